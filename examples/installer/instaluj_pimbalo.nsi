; instaluj_pimbalo.nsi: an installer that works with kavrel, for NSIS 3.
;
; kavrel starts instaluj_pimbalo.exe from its own folder whenever the
; application is not installed, is older than kavrel's caller asks for, or
; will not start. This installer writes the installation record kavrel
; reads, registers itself with Windows' list of installed programs, and its
; uninstaller removes both again.
;
; Each version goes into a new folder of its own inside the installation
; folder (app-N, or app-N-2 and so on when that name is taken), and the
; record, written last, is what switches kavrel to it: until then the
; installed version is untouched, and a running application keeps its own
; folder while the next version is installed beside it.
;
; Build it with your own application file and version number, and change
; nothing else to start with:
;
;   makensis -DPIMBALO_APP=FILE -DPIMBALO_VERSION=N -DOUTFILE=PATH examples/installer/instaluj_pimbalo.nsi
;
;   PIMBALO_APP      your application's program file; it is installed under
;                    its own name, and that name is the record's appfile
;   PIMBALO_VERSION  the version this installer installs, a whole number
;                    that each release raises; it is the record's version
;                    and the number kavrel compares with its argument
;   OUTFILE          where makensis writes the installer; ship it beside
;                    kavrel.exe as instaluj_pimbalo.exe
;
; Give PIMBALO_APP and OUTFILE as full paths: makensis works in this
; script's folder, and takes relative paths from there. Two files beside it
; are part of it: pimbalo_remove.nsh, how the installer and the uninstaller
; remove the folders the installer made and nothing else, and
; pimbalo_permissions.nsh, how the installer makes folders only
; administrators can change, and tells whether an existing one is.
;
; What you will want to change is marked "VENDOR:". What kavrel relies on
; (the record's key, its three values and their types, the 32-bit view) is
; marked "KAVREL:" and must stay as it is.
;
; Three more defines are for kavrel's own tests and for finding out how the
; installer was started on a machine, not for shipping:
;   PIMBALO_TARGET        another NSIS target, such as amd64-unicode (the
;                         shipped form is NSIS's default, x86-unicode)
;   PIMBALO_STARTUP_LOG   a folder; each start of the installer writes a file
;                         there, named by its process id, with the show state
;                         its startup information asks for, what it did, its
;                         command line and its installation folder
;   PIMBALO_TEST_HOLD     a file; while it exists (at most 60 s), the
;                         installer waits after writing the program file into
;                         the new version's folder, before the rest and the
;                         record, so that a test can end it from outside there
;
; The exit codes of the installer and the uninstaller are the PIMBALO_EXIT_
; defines below, beside NSIS's own 0, 1 and 2.
;
; Build it with NSIS 3.09 or later: the uninstallers of earlier releases copy
; themselves into a temporary folder that other users may write to
; (CVE-2023-37378), and this uninstaller runs as administrator. Debian 12's
; 3.08-3+deb12u1 carries the fix and is taken too.

Unicode true
!if ${NSIS_PACKEDVERSION} < 0x03009000
  !searchparse /noerrors "${NSIS_VERSION}" "+deb12u" _PIMBALO_FIXED_308
  !ifndef _PIMBALO_FIXED_308
    !error "build with NSIS 3.09 or later (${NSIS_VERSION}: its uninstaller's temporary folder is open to other users)"
  !endif
!endif
!ifdef PIMBALO_TARGET
  Target ${PIMBALO_TARGET}
!endif

!ifndef PIMBALO_APP | PIMBALO_VERSION | OUTFILE
  !error "build with makensis -DPIMBALO_APP=FILE -DPIMBALO_VERSION=N -DOUTFILE=PATH instaluj_pimbalo.nsi"
!endif
; A relative path is taken from this script's folder (see above).
!if ! /FileExists "${PIMBALO_APP}"
  !error "PIMBALO_APP: there is no file ${PIMBALO_APP} (give its full path)"
!endif
; The version must be a plain whole number: it is written as a REG_DWORD.
!define /math _PIMBALO_VERSION_NUMBER ${PIMBALO_VERSION} + 0
!if "${_PIMBALO_VERSION_NUMBER}" != "${PIMBALO_VERSION}"
  !error "PIMBALO_VERSION must be a whole number, not ${PIMBALO_VERSION}"
!endif
!if ${PIMBALO_VERSION} < 0
  !error "PIMBALO_VERSION must not be negative"
!endif

; The application file's own name (PIMBALO_APP without its folders, either
; kind of slash), found while compiling, so that the build machine's paths
; stay out of the installer.
!define PIMBALO_APPFILE "${PIMBALO_APP}"
!searchreplace PIMBALO_APPFILE "${PIMBALO_APPFILE}" "\" "/"
!macro _PimbaloDropFolder
  !searchparse /noerrors "${PIMBALO_APPFILE}" "/" _PIMBALO_AFTER_SLASH
  !ifdef _PIMBALO_AFTER_SLASH
    !define /redef PIMBALO_APPFILE "${_PIMBALO_AFTER_SLASH}"
    !undef _PIMBALO_AFTER_SLASH
    !insertmacro _PimbaloDropFolder
  !endif
!macroend
!insertmacro _PimbaloDropFolder

; VENDOR: your product's name, publisher and installation folder name.
!define PIMBALO_NAME "Pimbalo"
!define PIMBALO_PUBLISHER "Merolt"
!define PIMBALO_FOLDER "Pimbalo"
; The captions of the installer's and the uninstaller's windows. A second
; start finds the running one by them.
!define PIMBALO_CAPTION "${PIMBALO_NAME} Setup"
!define PIMBALO_UNINSTALL_CAPTION "${PIMBALO_NAME} Uninstall"
; VENDOR: a name of your own for the mutex that keeps one installer or
; uninstaller running on the machine. Global\ makes it one mutex for every
; logon session, since the record it guards is the machine's.
!define PIMBALO_MUTEX "Global\Merolt_01.Pimbalo.Installer"

; The exit codes, beside NSIS's own: 0 done, 1 Cancel on a page, 2 NSIS
; stopped (also the hidden start that handed over to a shown copy).
; A newer version is installed: nothing was changed.
!define PIMBALO_EXIT_NEWER_INSTALLED 3
; Another installer or uninstaller of this product is running.
!define PIMBALO_EXIT_ALREADY_RUNNING 4
; The installer could not write the new version (a full disk, say): its
; folder is removed, and the installed version, its record and its list
; entry are as they were. The uninstaller: the application is running, and
; nothing was removed. (Before version folders, the installer also exited
; with 5 for a program file in use; a new folder holds none.)
!define PIMBALO_EXIT_NOT_WRITTEN 5
!define PIMBALO_EXIT_IN_USE 5
; /D= named another folder than the installed one: nothing was changed.
!define PIMBALO_EXIT_OTHER_FOLDER 6
; kavrel could not start the application from the folder, or NSIS did not
; take the folder /D= named: nothing changed.
!define PIMBALO_EXIT_FOLDER_UNUSABLE 7
; Users other than administrators could change the installation folder or
; a folder above it: nothing changed.
!define PIMBALO_EXIT_FOLDER_UNSAFE 8
; The uninstaller removed the installation, but folders of its own stay (in
; use, or holding a link it does not follow); it said which.
!define PIMBALO_EXIT_LEFT_BEHIND 9
; Started without _?=, an NSIS uninstaller copies itself into the temporary
; folder, starts the copy and ends at once with 0: the codes are the copy's.

; The folder of this installer's version inside the installation folder.
; When it is taken (the same version installed again, or left by an
; installation that was stopped), -2 to -99 is added. The longest name is
; the one the folder check counts.
!define PIMBALO_VERSION_FOLDER "app-${PIMBALO_VERSION}"
!define PIMBALO_VERSION_FOLDER_LONGEST "${PIMBALO_VERSION_FOLDER}-99"
; The file the installer writes first into each folder it makes inside the
; installation folder: only a folder that holds it is removed. VENDOR: a
; name of your own if you like, the same in every version, since each
; version removes the folders of the ones before.
!define PIMBALO_MARK "pimbalo-setup.mark"
; What a folder is renamed to before it is removed (removing-1, ...): a
; folder still in use cannot be renamed on Windows, so it stays whole, and a
; removal cut short leaves a marked folder no record names, which the next
; run removes.
!define PIMBALO_TOMBSTONE "removing-"
; The permissions of every folder the installer makes: a protected DACL (no
; inherited entries), each entry inherited by what is made inside: SYSTEM
; and the Administrators full control, Users 0x1200a9, read and execute.
!define PIMBALO_PROTECTED "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"

; KAVREL: the installation record, read by kavrel in the 32-bit view.
!define PIMBALO_RECORD_PARENT "Software\Merolt_01"
!define PIMBALO_RECORD_KEY "${PIMBALO_RECORD_PARENT}\Pimbalo"
; Windows' list of installed programs.
!define PIMBALO_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PIMBALO_NAME}"

Name "${PIMBALO_NAME}"
Caption "${PIMBALO_CAPTION}"
UninstallCaption "${PIMBALO_UNINSTALL_CAPTION}"
OutFile "${OUTFILE}"
; The 32-bit Program Files (a 64-bit build of this script asks Windows for
; it in .onInit, since its $PROGRAMFILES32 is the 64-bit folder).
InstallDir "$PROGRAMFILES32\${PIMBALO_FOLDER}"
; The record is under HKEY_LOCAL_MACHINE and the files under Program Files:
; the manifest asks for administrator rights, and the shell that kavrel
; starts the installer through asks the user for them.
RequestExecutionLevel admin
ManifestDPIAware true
SetCompressor /SOLID lzma
; A file that cannot be written is never skipped: the user is asked to
; retry or cancel (silently: cancel); the new version's folder is then
; removed, and the record is not written.
AllowSkipFiles off
ShowInstDetails show
ShowUninstDetails show
; VENDOR: the text in the line above the buttons.
BrandingText "${PIMBALO_NAME} ${PIMBALO_VERSION}"

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh
!include WinVer.nsh

; VENDOR: the pages. A license page (MUI_PAGE_LICENSE) or a finish page
; that runs the application can be added; the application is better
; started by kavrel, which checks the record first.
!insertmacro MUI_PAGE_WELCOME
; Not shown for an update, which goes where the record says; a folder kavrel
; could not start the application from is refused with a message.
!define MUI_PAGE_CUSTOMFUNCTION_PRE PimbaloDirectoryShow
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE PimbaloDirectoryLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; VENDOR: more languages after this one, if wanted.
!insertmacro MUI_LANGUAGE "English"
; VENDOR: the wording, in each language. $0 is the file.
LangString ^FileError_NoIgnore ${LANG_ENGLISH} "This file cannot be written (is the disk full?):\
    $\r$\n$\r$\n$0$\r$\n$\r$\nMake room and click Retry, or click Cancel to stop; the installed \
    version then stays as it is."

; Windows' version numbers have four parts of 16 bits each.
!if ${PIMBALO_VERSION} <= 65535
  VIProductVersion "${PIMBALO_VERSION}.0.0.0"
!else
  !define /math _PIMBALO_VERSION_HIGH ${PIMBALO_VERSION} >> 16
  !define /math _PIMBALO_VERSION_LOW ${PIMBALO_VERSION} & 65535
  VIProductVersion "${_PIMBALO_VERSION_HIGH}.${_PIMBALO_VERSION_LOW}.0.0"
!endif
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PIMBALO_NAME}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PIMBALO_PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${PIMBALO_PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PIMBALO_CAPTION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${PIMBALO_VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${PIMBALO_VERSION}"

; STARTUPINFOW as Windows lays it out for this installer's width: cb, three
; pointers (aligned to their size), seven DWORDs, then dwFlags and
; wShowWindow. 68 bytes with dwFlags at 44 and wShowWindow at 48 for x86,
; 104 bytes with them at 60 and 64 for x64.
!if ${NSIS_PTR_SIZE} > 4
  !define PIMBALO_STARTUPINFO_SIZE 104
  !define PIMBALO_STARTUPINFO_FLAGS_AT 60
!else
  !define PIMBALO_STARTUPINFO_SIZE 68
  !define PIMBALO_STARTUPINFO_FLAGS_AT 44
!endif
!define PIMBALO_STARTF_USESHOWWINDOW 1
; Set in the environment of the copy this installer starts of itself, so
; that the copy never starts another.
!define PIMBALO_RELAUNCH_MARK "PIMBALO_INSTALLER_RELAUNCHED"

Var StartupShowFlag
Var StartupShowWindow
; 1 when the command line names the installation folder with /D=, else 0;
; and the folder it names there, as given (NSIS puts its own reading of it
; into $INSTDIR, or InstallDir's folder when it does not take it).
Var FolderGiven
Var FolderAsked
; The folder the installation record names (the installed version's), or
; "" when there is none.
Var RecordedFolder
; The installation folder: in the installer $INSTDIR; in the uninstaller,
; whose $INSTDIR is the version folder it lies in, the folder above that.
Var InstallFolder
; The new version's folder, once the installer has made it, else "".
Var VersionFolder
; The first folder the installer made on the way to the installation
; folder (the installation folder itself, or one above it), else "".
Var MadeFolder
; 1 once the record names the new version's folder: from then on a failure
; must not remove it.
Var Committed
; Why the application may not be installed in $INSTDIR, or "", and the
; exit code that says so.
Var FolderProblem
Var FolderExitCode
; The exit code of an installation that failed before the record.
Var FailExitCode
; The SID of the account running this program (an administrator).
Var UserSid
; The folder the record names when an installation from before version
; folders made it, with the program directly inside, else ""; and the
; program file it recorded.
Var LegacyFolder
Var LegacyAppfile
; What the removal of folders left and why, a line each, or "".
Var Remaining
; A file that removal leaves alone: the uninstaller itself when it runs in
; place (_?= naming its own folder), else "".
Var KeepFile
; PimbaloTreeBusy's answer: the first file in the way, and 1 when that is a
; link rather than a file in use.
Var BusyPath
Var BusyLink
; The folder PimbaloDeleteTree empties: its mark goes last.
Var TreeTop
; PimbaloInstallationFolder's and PimbaloSameFolder's working copies.
Var FolderName
Var SameFolderA
Var SameFolderB

; Sets RESULT to 1 when the folders A and B are one, else to 0: names
; compared as the file system compares them (ordinally, without regard to
; case), a closing backslash on either ignored. Changes no register but
; RESULT.
!macro PimbaloSameFolder RESULT A B
  StrCpy $SameFolderA "${A}"
  StrCpy $SameFolderB "${B}"
  StrCpy ${RESULT} $SameFolderA "" -1
  ${If} ${RESULT} == "\"
    StrCpy $SameFolderA $SameFolderA -1
  ${EndIf}
  StrCpy ${RESULT} $SameFolderB "" -1
  ${If} ${RESULT} == "\"
    StrCpy $SameFolderB $SameFolderB -1
  ${EndIf}
  Push $SameFolderB
  Push $SameFolderA
  ; CompareStringOrdinal with bIgnoreCase TRUE; CSTR_EQUAL is 2.
  System::Call "kernel32::CompareStringOrdinal(w s, i -1, w s, i -1, i 1) i .s"
  Pop ${RESULT}
  ${If} ${RESULT} = 2
    StrCpy ${RESULT} 1
  ${Else}
    StrCpy ${RESULT} 0
  ${EndIf}
!macroend

; Writes one start's file into PIMBALO_STARTUP_LOG, when that is defined:
; the show state the startup information asked for, what this start did,
; its command line (less a /D=, which NSIS takes off) and $INSTDIR.
!macro PimbaloStartupLog WHAT
  !ifdef PIMBALO_STARTUP_LOG
    Push "${WHAT}"
    Call PimbaloStartupLog
  !endif
!macroend
!ifdef PIMBALO_STARTUP_LOG
Function PimbaloStartupLog
  Exch $0
  Push $1
  Push $2
  System::Call "kernel32::GetCurrentProcessId() i .r1"
  CreateDirectory "${PIMBALO_STARTUP_LOG}"
  FileOpen $2 "${PIMBALO_STARTUP_LOG}\$1.partial" w
  FileWrite $2 "show_flag=$StartupShowFlag$\r$\nshow_window=$StartupShowWindow$\r$\n"
  FileWrite $2 "action=$0$\r$\ncommand_line=$CMDLINE$\r$\ninstdir=$INSTDIR$\r$\n"
  FileClose $2
  ; A start that went on after a failed relaunch writes again: the last
  ; word counts.
  Delete "${PIMBALO_STARTUP_LOG}\$1.start"
  Rename "${PIMBALO_STARTUP_LOG}\$1.partial" "${PIMBALO_STARTUP_LOG}\$1.start"
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!endif

; Texts reach the System plug-in's calls as values: a path, a parameter or
; a name is put into a register (r0) or onto the stack (s) and named there,
; never pasted into the text of the call, where an apostrophe would end the
; text and other characters would be read as the call's own syntax.

; NSIS ends the command line it keeps ($CMDLINE) before " /D=FOLDER" and
; puts FOLDER into $INSTDIR; the command line Windows keeps stays whole. So
; /D= was given exactly when the two differ in length, and FOLDER is what
; follows " /D=" there. Before .onInit, NSIS replaces a FOLDER it does not
; take (no such drive, a drive's root, a relative path) with InstallDir's.
Function PimbaloFolderGiven
  StrCpy $FolderGiven 0
  StrCpy $FolderAsked ""
  System::Call "kernel32::GetCommandLineW() w .r0"
  StrLen $1 $CMDLINE
  StrLen $2 $0
  ${If} $2 > $1
    StrCpy $FolderGiven 1
    IntOp $1 $1 + 4
    StrCpy $FolderAsked $0 "" $1
  ${EndIf}
FunctionEnd

; Sets $0 to 1 when $INSTDIR is the folder /D= named, as NSIS reads it
; (without closing spaces and backslashes), else to 0: NSIS replaced it,
; or changed it (it drops characters a file name may not hold).
Function PimbaloFolderHonoured
  StrCpy $1 $FolderAsked
  ${Do}
    StrCpy $2 $1 "" -1
    ${If} $2 != " "
    ${AndIf} $2 != "\"
      ${ExitDo}
    ${EndIf}
    StrCpy $1 $1 -1
  ${Loop}
  !insertmacro PimbaloSameFolder $0 $1 $INSTDIR
FunctionEnd

; kavrel starts the installer hidden (SW_HIDE). Windows hands that show
; command to the installer in its startup information (STARTF_USESHOWWINDOW
; with wShowWindow SW_HIDE), and NSIS shows its window with SW_SHOWDEFAULT,
; which by ShowWindow's documentation means exactly that startup value: the
; window would stay hidden while the installer waits for the user. So when
; the startup information says hidden, the installer starts itself again
; through the shell with SW_SHOWNORMAL, with the same arguments, and quits
; before it has a window. The new copy's startup information says
; SW_SHOWNORMAL, and its window is shown. Not in silent mode (/S), which
; shows nothing anyway.
Function PimbaloShowIfStartedHidden
  StrCpy $StartupShowFlag 0
  StrCpy $StartupShowWindow 0
  System::Alloc ${PIMBALO_STARTUPINFO_SIZE}
  Pop $0
  System::Call "*$0(i ${PIMBALO_STARTUPINFO_SIZE})"
  System::Call "kernel32::GetStartupInfoW(p r0)"
  System::Call "*$0(&v${PIMBALO_STARTUPINFO_FLAGS_AT}, i .r1, &i2 .r2)"
  System::Free $0
  IntOp $StartupShowFlag $1 & ${PIMBALO_STARTF_USESHOWWINDOW}
  StrCpy $StartupShowWindow $2

  ${If} ${Silent}
    Return
  ${EndIf}
  StrCpy $0 "${PIMBALO_RELAUNCH_MARK}"
  ReadEnvStr $1 ${PIMBALO_RELAUNCH_MARK}
  ${If} $1 != ""
    ; This is the copy started below: never start another, whatever it got.
    System::Call "kernel32::SetEnvironmentVariableW(w r0, p 0)"
    Return
  ${EndIf}
  ${If} $StartupShowFlag = 0
  ${OrIf} $StartupShowWindow <> ${SW_HIDE}
    Return
  ${EndIf}

  ${GetParameters} $1
  ; NSIS takes /D= off its command line: give it back as given, last as
  ; NSIS wants it, so that the new copy installs where this one was asked
  ; to, or refuses the folder as this one would.
  ${If} $FolderGiven = 1
    ${If} $1 == ""
      StrCpy $1 "/D=$FolderAsked"
    ${Else}
      StrCpy $1 "$1 /D=$FolderAsked"
    ${EndIf}
  ${EndIf}
  StrCpy $2 "1"
  System::Call "kernel32::SetEnvironmentVariableW(w r0, w r2)"
  StrCpy $2 $EXEPATH
  System::Call "shell32::ShellExecuteW(p 0, p 0, w r2, w r1, p 0, i ${SW_SHOWNORMAL}) p .r3"
  System::Call "kernel32::SetEnvironmentVariableW(w r0, p 0)"
  ; ShellExecute returns a value above 32 when it started the program.
  ${If} $3 > 32
    !insertmacro PimbaloStartupLog "relaunched"
    Quit
  ${EndIf}
  ; The shell could not start it: go on here rather than not at all.
  !insertmacro PimbaloStartupLog "relaunch failed ($3)"
FunctionEnd

; One installer or uninstaller at a time: the first holds a named mutex for
; as long as it runs (Windows closes it when the program ends). A second
; start brings the running one's window to the front and quits with exit
; code 4; a second uninstaller says why first. A mutex that cannot be made
; at all counts the same: one made first by an installer running as
; another account (SYSTEM, say, for a deployment tool) may refuse this one
; access (ERROR_ACCESS_DENIED), and nothing can tell it from a running one.
!macro PimbaloFindWindow CAPTION
  ${If} $0 P= 0
    StrCpy $1 "${CAPTION}"
    System::Call "user32::FindWindowW(w '#32770', w r1) p .r0"
  ${EndIf}
!macroend
!macro PimbaloOnlyOneRunning UN
  Function ${UN}PimbaloOnlyOneRunning
    StrCpy $0 "${PIMBALO_MUTEX}"
    System::Call "kernel32::CreateMutexW(p 0, i 0, w r0) p .r0 ?e"
    Pop $1
    ; No mutex, or ERROR_ALREADY_EXISTS.
    ${If} $0 P= 0
    ${OrIf} $1 = 183
      !if "${UN}" == "un."
        ; VENDOR: the wording.
        MessageBox MB_OK|MB_ICONEXCLAMATION "${PIMBALO_NAME} is being installed or uninstalled \
            already. Let that finish first. Nothing was changed." /SD IDOK
      !else
        !insertmacro PimbaloStartupLog "already running"
      !endif
      ; Modern UI pages after the first add a space to the caption.
      StrCpy $0 0
      !insertmacro PimbaloFindWindow "${PIMBALO_CAPTION}"
      !insertmacro PimbaloFindWindow "${PIMBALO_CAPTION} "
      !insertmacro PimbaloFindWindow "${PIMBALO_UNINSTALL_CAPTION}"
      !insertmacro PimbaloFindWindow "${PIMBALO_UNINSTALL_CAPTION} "
      ${If} $0 P<> 0
        System::Call "user32::IsIconic(p r0) i .r1"
        ${If} $1 <> 0
          System::Call "user32::ShowWindow(p r0, i ${SW_RESTORE})"
        ${EndIf}
        System::Call "user32::SetForegroundWindow(p r0)"
      ${EndIf}
      SetErrorLevel ${PIMBALO_EXIT_ALREADY_RUNNING}
      Quit
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro PimbaloOnlyOneRunning ""
!insertmacro PimbaloOnlyOneRunning "un."

; Sets RESULT to 1 when PATH is a folder that is there, else to 0. A
; drive's root counts (FindFirstFile finds nothing in an empty one).
; Changes no register but RESULT.
!macro PimbaloFolderThere RESULT PATH
  Push "${PATH}\"
  System::Call "kernel32::GetFileAttributesW(w s) i .s"
  Pop ${RESULT}
  ${If} ${RESULT} = -1
    StrCpy ${RESULT} 0
  ${Else}
    IntOp ${RESULT} ${RESULT} & 0x10
    ${If} ${RESULT} <> 0
      StrCpy ${RESULT} 1
    ${EndIf}
  ${EndIf}
!macroend

; Sets RESULT to the installation folder that holds FOLDER, a version
; folder (the record's setuppath, or the folder an uninstaller lies in):
; the folder above it. A FOLDER whose name does not begin with app- is the
; installation folder itself, as an installation from before version
; folders recorded it. Changes no register but RESULT.
!macro PimbaloInstallationFolder RESULT FOLDER
  ${GetFileName} "${FOLDER}" $FolderName
  StrCpy $FolderName $FolderName 4
  ${If} $FolderName == "app-"
    ${GetParent} "${FOLDER}" ${RESULT}
  ${Else}
    StrCpy ${RESULT} "${FOLDER}"
  ${EndIf}
!macroend

; Removing the folders the installer made, and nothing else; folders only
; administrators can change.
!include "pimbalo_remove.nsh"
!insertmacro PimbaloRemoveFunctions ""
!insertmacro PimbaloRemoveFunctions "un."
!include "pimbalo_permissions.nsh"

; Sets $FolderProblem to why kavrel could not start the application from
; a version folder in $INSTDIR, or to "" when it can; it counts the longest
; name the version folder may get. kavrel takes setuppath (the version
; folder), a backslash and appfile, at most 259 bytes, in its code page:
; UTF-8 on Windows 10 version 1903 (build 18362) and later, where its
; manifest asks for it; before that the system's ANSI code page, in which
; kavrel takes only a path that converts exactly. On such older Windows the
; folder must suit both, since Windows may be updated under an installed
; application. Then, whether others could change it (PimbaloCheckPermissions).
; $FolderExitCode is the exit code for the problem.
Function PimbaloCheckFolder
  StrCpy $FolderProblem ""
  StrCpy $FolderExitCode ${PIMBALO_EXIT_FOLDER_UNUSABLE}
  StrCpy $0 "$INSTDIR\${PIMBALO_VERSION_FOLDER_LONGEST}\${PIMBALO_APPFILE}"
  ; CP_UTF8 with WC_ERR_INVALID_CHARS: the bytes with the closing NUL, or 0
  ; for text that is not whole UTF-16.
  StrCpy $2 65001
  System::Call "kernel32::WideCharToMultiByte(i r2, i 0x80, w r0, i -1, p 0, i 0, p 0, p 0) i .r1"
  ${If} $1 = 0
    StrCpy $3 ""
  ${Else}
    StrCpy $3 $0
  ${EndIf}
  ${IfNot} ${AtLeastBuild} 18362
  ${AndIf} $1 <> 0
  ${AndIf} $1 <= 260
    ; The ANSI code page, without best fit (WC_NO_BEST_FIT_CHARS). The
    ; System plug-in reads the bytes back as text in the same code page:
    ; exact when that gives the path again.
    System::Call "kernel32::GetACP() i .r2"
    System::Call "kernel32::WideCharToMultiByte(i 0, i 0x400, w r0, i -1, m .r3, i ${NSIS_MAX_STRLEN}, p 0, p 0) i .r1"
  ${EndIf}
  ; VENDOR: the wording.
  ${If} $1 = 0
  ${OrIf} $3 S!= $0
    StrCpy $FolderProblem "${PIMBALO_NAME} could not be started from this folder: its name holds characters \
        that this Windows cannot pass on exactly (code page $2).$\r$\n$\r$\n$0$\r$\n$\r$\nChoose a folder \
        without them."
  ${ElseIf} $1 > 260
    IntOp $1 $1 - 1
    StrCpy $FolderProblem "${PIMBALO_NAME} could not be started from this folder: its path, with the \
        version's folder and the program's name, takes up to $1 bytes, more than 259. Choose a \
        shorter folder."
  ${Else}
    Call PimbaloCheckPermissions
    StrCpy $FolderExitCode ${PIMBALO_EXIT_FOLDER_UNSAFE}
  ${EndIf}
FunctionEnd

Function PimbaloDirectoryShow
  ${If} $RecordedFolder != ""
    Abort
  ${EndIf}
FunctionEnd

Function PimbaloDirectoryLeave
  Call PimbaloCheckFolder
  ${If} $FolderProblem != ""
    MessageBox MB_OK|MB_ICONEXCLAMATION "$FolderProblem"
    Abort
  ${EndIf}
FunctionEnd

Function .onInit
  ; KAVREL: the record lives in the 32-bit view, whatever this build's width.
  SetRegView 32
  Call PimbaloFolderGiven
  Call PimbaloShowIfStartedHidden
  Call PimbaloOnlyOneRunning
  Call PimbaloUserSid
  StrCpy $FailExitCode ${PIMBALO_EXIT_NOT_WRITTEN}

  ; A /D= that NSIS did not take as given is refused, not replaced by the
  ; default folder.
  ${If} $FolderGiven = 1
    Call PimbaloFolderHonoured
    ${If} $0 = 0
      ; VENDOR: the wording.
      MessageBox MB_OK|MB_ICONSTOP "This folder cannot be installed into:$\r$\n$\r$\n$FolderAsked$\r$\n$\r$\n\
          /D= takes the full path of a folder on a drive that is there, not a drive's root, \
          without quotes and last on the command line. Nothing was changed." /SD IDOK
      !insertmacro PimbaloStartupLog "refused the folder"
      SetErrorLevel ${PIMBALO_EXIT_FOLDER_UNUSABLE}
      Quit
    ${EndIf}
  ${EndIf}

  ; Without /D=, the 32-bit Program Files: InstallDir's, which a 64-bit
  ; build has to ask Windows for.
  !if ${NSIS_PTR_SIZE} > 4
    ReadEnvStr $0 "ProgramFiles(x86)"
    ${If} $0 != ""
    ${AndIf} $FolderGiven = 0
      StrCpy $INSTDIR "$0\${PIMBALO_FOLDER}"
    ${EndIf}
  !endif

  ClearErrors
  ReadRegDWORD $0 HKLM "${PIMBALO_RECORD_KEY}" "version"
  ${IfNot} ${Errors}
  ${AndIf} $0 U> ${PIMBALO_VERSION}
    ; VENDOR: the wording.
    MessageBox MB_OK|MB_ICONSTOP "${PIMBALO_NAME} version $0 is installed, which is newer than \
        version ${PIMBALO_VERSION} in this installer. Nothing was changed." /SD IDOK
    !insertmacro PimbaloStartupLog "refused to downgrade"
    SetErrorLevel ${PIMBALO_EXIT_NEWER_INSTALLED}
    Quit
  ${EndIf}

  ; An update goes where the application is: into the installation folder
  ; that holds the version folder the record names. The directory page is
  ; not shown then, and a /D= naming another folder is refused rather than
  ; followed: moving the installation would leave the old folder to its own
  ; uninstaller, and the user's files in it. But when that folder can no
  ; longer be made (its drive is gone: an external or network drive, say),
  ; nothing of the installation is left to update or remove: this is a
  ; first install, with its directory page (or /D=), and the record moves.
  ReadRegStr $RecordedFolder HKLM "${PIMBALO_RECORD_KEY}" "setuppath"
  ${If} $RecordedFolder != ""
    !insertmacro PimbaloInstallationFolder $2 $RecordedFolder
    StrCpy $0 $2
    ${DoUntil} $0 == ""
      !insertmacro PimbaloFolderThere $1 $0
      ${If} $1 = 1
        ${ExitDo}
      ${EndIf}
      ${GetParent} $0 $0
    ${Loop}
    ${If} $0 == ""
      !insertmacro PimbaloStartupLog "recorded drive gone"
      StrCpy $RecordedFolder ""
    ${EndIf}
  ${EndIf}
  ${If} $RecordedFolder != ""
    !insertmacro PimbaloSameFolder $0 $INSTDIR $2
    ${If} $FolderGiven = 1
    ${AndIf} $0 = 0
      ; VENDOR: the wording.
      MessageBox MB_OK|MB_ICONSTOP "${PIMBALO_NAME} is installed in$\r$\n$\r$\n$2$\r$\n$\r$\n\
          and is updated there; this installer does not move it to$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\n\
          Uninstall it first to install it there. Nothing was changed." /SD IDOK
      !insertmacro PimbaloStartupLog "refused another folder"
      SetErrorLevel ${PIMBALO_EXIT_OTHER_FOLDER}
      Quit
    ${EndIf}
    StrCpy $INSTDIR $2
    ; An installation from before version folders: the record names the
    ; installation folder, with the program directly inside.
    !insertmacro PimbaloSameFolder $0 $RecordedFolder $2
    ${If} $0 = 1
      StrCpy $LegacyFolder $RecordedFolder
      ReadRegStr $LegacyAppfile HKLM "${PIMBALO_RECORD_KEY}" "appfile"
    ${EndIf}
  ${EndIf}

  ; The directory page checks the folder the user chooses; every other
  ; folder is checked here.
  ${If} ${Silent}
  ${OrIf} $RecordedFolder != ""
    Call PimbaloCheckFolder
    ${If} $FolderProblem != ""
      MessageBox MB_OK|MB_ICONSTOP "$FolderProblem$\r$\n$\r$\nNothing was changed." /SD IDOK
      !insertmacro PimbaloStartupLog "refused the folder"
      SetErrorLevel $FolderExitCode
      Quit
    ${EndIf}
  ${EndIf}
  !insertmacro PimbaloStartupLog "going on"
FunctionEnd

; Makes the installation folder, and the folders above it that are not
; there, each with permissions of its own (PimbaloMakeProtectedFolder), so
; that no one but administrators can rename, replace or change any of them;
; $MadeFolder is the first of them the installer made, or "". Then checks
; the whole path again (PimbaloCheckPermissions): another user could have
; made a folder of it in the meantime.
Function PimbaloMakeInstallationFolder
  StrCpy $MadeFolder ""
  ; The missing folders, from the installation folder up, onto the stack
  ; above a mark no folder can be ("|"); made from the top down.
  Push "|"
  StrCpy $0 $INSTDIR
  ${DoUntil} $0 == ""
    !insertmacro PimbaloFolderThere $1 $0
    ${If} $1 = 1
      ${ExitDo}
    ${EndIf}
    Push $0
    StrCpy $MadeFolder $0
    ${GetParent} $0 $0
  ${Loop}
  StrCpy $2 0
  ${Do}
    Pop $0
    ${If} $0 == "|"
      ${ExitDo}
    ${EndIf}
    ${If} $2 = 0
      Push $0
      Call PimbaloMakeProtectedFolder
      Pop $1
      ${If} $1 <> 0
        StrCpy $2 "Cannot make $0 (error $1)"
      ${EndIf}
    ${EndIf}
  ${Loop}
  ${If} $2 != 0
    Abort $2
  ${EndIf}
  StrCpy $FolderProblem ""
  Call PimbaloCheckPermissions
  ${If} $FolderProblem != ""
    StrCpy $FailExitCode ${PIMBALO_EXIT_FOLDER_UNSAFE}
    Abort $FolderProblem
  ${EndIf}
FunctionEnd

; Makes the new version's folder, $VersionFolder: app-N, or app-N-2 up to
; app-N-99 when that is there, with permissions of its own
; (PimbaloMakeProtectedFolder), and writes the mark into it first: the
; folder is the installer's own from then on, and a later run removes it
; whatever happens to this one. The installer makes it itself (making fails
; on a folder that is there already), so nothing in it is older than this
; installation.
Function PimbaloMakeVersionFolder
  StrCpy $1 1
  ${Do}
    ${If} $1 = 1
      StrCpy $0 "$INSTDIR\${PIMBALO_VERSION_FOLDER}"
    ${Else}
      StrCpy $0 "$INSTDIR\${PIMBALO_VERSION_FOLDER}-$1"
    ${EndIf}
    Push $0
    Call PimbaloMakeProtectedFolder
    Pop $3
    ${If} $3 = 0
      StrCpy $VersionFolder $0
      ${ExitDo}
    ${EndIf}
    IntOp $1 $1 + 1
    ; Only ERROR_ALREADY_EXISTS is worth another name.
    ${If} $3 <> 183
    ${OrIf} $1 > 99
      ${ExitDo}
    ${EndIf}
  ${Loop}
  ${If} $VersionFolder == ""
    Abort "Cannot make a folder for version ${PIMBALO_VERSION} in $INSTDIR (error $3)"
  ${EndIf}
  ClearErrors
  FileOpen $0 "$VersionFolder\${PIMBALO_MARK}" w
  FileWrite $0 "${PIMBALO_NAME} Setup made this folder for version ${PIMBALO_VERSION}, and \
      removes it with that version.$\r$\n"
  FileClose $0
  ${If} ${Errors}
    Abort "Cannot write $VersionFolder\${PIMBALO_MARK}"
  ${EndIf}
FunctionEnd

; Pops a file and has Windows write it to the disk (FlushFileBuffers), so
; that the record, flushed after it, never names a file that a power cut
; could still take back. Sets the error flag when that fails.
Function PimbaloFlushFile
  Exch $0
  Push $1
  ; GENERIC_WRITE, shared for reading and writing, OPEN_EXISTING.
  System::Call "kernel32::CreateFileW(w r0, i 0x40000000, i 3, p 0, i 3, i 0, p 0) p .r1"
  StrCpy $0 0
  ${If} $1 P<> -1
    System::Call "kernel32::FlushFileBuffers(p r1) i .r0"
    System::Call "kernel32::CloseHandle(p r1)"
  ${EndIf}
  ${If} $0 = 0
    SetErrors
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

; Pops a key of HKEY_LOCAL_MACHINE and has Windows write it to the disk
; (RegFlushKey): the record's, from when on the update holds, a power cut
; included; the list entry's, before any old folder goes, so that it never
; names a removed uninstaller; the one above a removed record, before the
; uninstaller removes any file.
!macro PimbaloFlushKey UN
  Function ${UN}PimbaloFlushKey
    Exch $0
    Push $1
    Push $2
    ; HKEY_LOCAL_MACHINE (sign-extended, as Windows defines it), with
    ; KEY_QUERY_VALUE and KEY_WOW64_32KEY.
    System::Call "advapi32::RegOpenKeyExW(p -2147483646, w r0, i 0, i 0x201, *p .r1) i .r2"
    ${If} $2 = 0
      System::Call "advapi32::RegFlushKey(p r1)"
      System::Call "advapi32::RegCloseKey(p r1)"
    ${EndIf}
    Pop $2
    Pop $1
    Pop $0
  FunctionEnd
!macroend
!insertmacro PimbaloFlushKey ""
!insertmacro PimbaloFlushKey "un."

Section "${PIMBALO_NAME}"
  SetRegView 32
  StrCpy $InstallFolder $INSTDIR
  Call PimbaloMakeInstallationFolder
  ; On an update, folders that the record no longer names and that were in
  ; use at the last update, or that an installation ended from outside
  ; left, go first: they would only take room from this version.
  ${If} $RecordedFolder != ""
    Push $RecordedFolder
    Call PimbaloRemoveVersions
  ${EndIf}

  ; Every file of the new version goes into a folder of its own. Until the
  ; record names it, nothing of the installed version changes, and a
  ; running application keeps its folder.
  Call PimbaloMakeVersionFolder
  SetOutPath "$VersionFolder"
  ; VENDOR: the application's other files go after it.
  File "${PIMBALO_APP}"
  !ifdef PIMBALO_TEST_HOLD
    ${If} ${FileExists} "${PIMBALO_TEST_HOLD}"
      !insertmacro PimbaloStartupLog "holding"
    ${EndIf}
    StrCpy $0 0
    ${Do}
      ${IfNot} ${FileExists} "${PIMBALO_TEST_HOLD}"
      ${OrIf} $0 >= 300
        ${ExitDo}
      ${EndIf}
      Sleep 200
      IntOp $0 $0 + 1
    ${Loop}
  !endif
  ; The uninstaller goes with the version: written after its files, it is
  ; there exactly when the version is whole, and it survives updates until
  ; the version after has replaced the record and the list entry.
  ClearErrors
  WriteUninstaller "$VersionFolder\uninstall.exe"
  ${If} ${Errors}
    Abort "Cannot write $VersionFolder\uninstall.exe"
  ${EndIf}
  ; VENDOR: each file the version holds.
  Push "$VersionFolder\${PIMBALO_MARK}"
  Call PimbaloFlushFile
  Push "$VersionFolder\${PIMBALO_APPFILE}"
  Call PimbaloFlushFile
  Push "$VersionFolder\uninstall.exe"
  Call PimbaloFlushFile
  ${If} ${Errors}
    Abort "Cannot write the files of version ${PIMBALO_VERSION} to the disk"
  ${EndIf}

  ; KAVREL: the record, last: writing setuppath is the commit of the whole
  ; installation. setuppath is the version folder without a closing
  ; backslash, appfile the program file's name in it, version a DWORD.
  ; kavrel reads setuppath, appfile, version: a start between the first
  ; write and the last sees the new folder with the old version number,
  ; which is sound, since the folder is whole by then (and a version that
  ; renamed its program file would send that one start to the installer).
  ClearErrors
  WriteRegStr HKLM "${PIMBALO_RECORD_KEY}" "setuppath" "$VersionFolder"
  ${If} ${Errors}
    Abort "Cannot write the installation record"
  ${EndIf}
  StrCpy $Committed 1
  WriteRegStr HKLM "${PIMBALO_RECORD_KEY}" "appfile" "${PIMBALO_APPFILE}"
  WriteRegDWORD HKLM "${PIMBALO_RECORD_KEY}" "version" ${PIMBALO_VERSION}
  Push "${PIMBALO_RECORD_KEY}"
  Call PimbaloFlushKey

  ; The list entry follows the record: its uninstaller is the new
  ; version's. An installation ended between the two still has the old
  ; entry, whose uninstaller removes this one all the same.
  ${GetSize} "$VersionFolder" "/S=0K" $0 $1 $2
  WriteRegStr HKLM "${PIMBALO_UNINSTALL_KEY}" "DisplayName" "${PIMBALO_NAME}"
  WriteRegStr HKLM "${PIMBALO_UNINSTALL_KEY}" "DisplayVersion" "${PIMBALO_VERSION}"
  WriteRegStr HKLM "${PIMBALO_UNINSTALL_KEY}" "Publisher" "${PIMBALO_PUBLISHER}"
  WriteRegStr HKLM "${PIMBALO_UNINSTALL_KEY}" "DisplayIcon" "$VersionFolder\${PIMBALO_APPFILE}"
  WriteRegStr HKLM "${PIMBALO_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${PIMBALO_UNINSTALL_KEY}" "UninstallString" '"$VersionFolder\uninstall.exe"'
  WriteRegStr HKLM "${PIMBALO_UNINSTALL_KEY}" "QuietUninstallString" '"$VersionFolder\uninstall.exe" /S'
  WriteRegDWORD HKLM "${PIMBALO_UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKLM "${PIMBALO_UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${PIMBALO_UNINSTALL_KEY}" "NoRepair" 1
  Push "${PIMBALO_UNINSTALL_KEY}"
  Call PimbaloFlushKey

  ; What the record no longer names: the older versions' folders, each
  ; whole unless something in it is in use; and what an installation from
  ; before version folders left (PimbaloRetireLegacy).
  ${If} $LegacyFolder != ""
    Call PimbaloRetireLegacy
  ${EndIf}
  Push $VersionFolder
  Call PimbaloRemoveVersions
SectionEnd

; The installation stopped before the record (a file it could not write,
; and Cancel; or a folder of the path that others could change): the new
; version's folder goes, and so do the folders it made on the way (only
; when empty); the record and the list entry still name the version that
; was there, if any.
Function .onInstFailed
  ${If} $Committed <> 1
    ; Out of the folder first: Windows does not remove a process's current
    ; folder.
    SetOutPath "$TEMP"
    ${If} $VersionFolder != ""
      Push $VersionFolder
      Call PimbaloRemoveFolder
      Pop $0
      ${If} $0 != ""
        DetailPrint $0
      ${EndIf}
    ${EndIf}
    ${If} $MadeFolder != ""
      StrCpy $0 $INSTDIR
      ${Do}
        RMDir "$0"
        ${If} $0 == $MadeFolder
          ${ExitDo}
        ${EndIf}
        ${GetParent} $0 $0
      ${LoopUntil} $0 == ""
    ${EndIf}
  ${EndIf}
  !insertmacro PimbaloStartupLog "not written"
  SetErrorLevel $FailExitCode
FunctionEnd

; The uninstallation stopped before it removed anything (the application
; running, and Cancel).
Function un.onUninstFailed
  SetErrorLevel ${PIMBALO_EXIT_IN_USE}
FunctionEnd

; The uninstaller runs as a copy in the temporary folder, which NSIS starts
; with _?= naming the folder it lies in, a version folder: $INSTDIR is that
; folder, and the installation folder is the one above it.
Function un.onInit
  SetRegView 32
  Call un.PimbaloOnlyOneRunning
FunctionEnd

Section "Uninstall"
  SetRegView 32
  !insertmacro PimbaloInstallationFolder $InstallFolder $INSTDIR
  ; Run in place (_?= naming its own folder), the uninstaller cannot remove
  ; itself: it stays, with its folder's mark, for a later run to remove.
  ; Run as the copy NSIS starts, it waits (at most 10 s) for the program it
  ; was copied from to end.
  StrCpy $KeepFile ""
  !insertmacro PimbaloSameFolder $0 $EXEDIR $INSTDIR
  ${If} $0 = 1
    StrCpy $KeepFile $EXEPATH
  ${Else}
    StrCpy $1 0
    StrCpy $3 "$INSTDIR\uninstall.exe"
    ${Do}
      ; GENERIC_WRITE, no sharing, OPEN_EXISTING.
      System::Call "kernel32::CreateFileW(w r3, i 0x40000000, i 0, p 0, i 3, i 0, p 0) p .r0 ?e"
      Pop $2
      ${If} $0 P<> -1
        System::Call "kernel32::CloseHandle(p r0)"
        ${ExitDo}
      ${EndIf}
      ${If} $2 <> 32
      ${OrIf} $1 >= 50
        ${ExitDo}
      ${EndIf}
      Sleep 200
      IntOp $1 $1 + 1
    ${Loop}
  ${EndIf}

  ; A running application holds its files, in whichever version folder it
  ; runs from: rather than remove the record and leave a running program,
  ; remove nothing until the user has closed it.
  in_use:
  Call un.PimbaloVersionInUse
  Pop $0
  ${If} $0 != ""
    ; VENDOR: the wording.
    MessageBox MB_RETRYCANCEL|MB_ICONSTOP "This file cannot be removed, probably because it is in use \
        (is ${PIMBALO_NAME} running?):$\r$\n$\r$\n$0$\r$\n$\r$\nClose what uses it and click Retry, or \
        click Cancel to stop; nothing is removed then." /SD IDCANCEL IDRETRY in_use
    Abort "Cannot remove $0"
  ${EndIf}

  ; The record and the list entry go only when they name this installation
  ; folder: an uninstaller in another one (a copy, or one an older installer
  ; left) removes its own files and leaves the installation kavrel starts
  ; alone.
  ReadRegStr $0 HKLM "${PIMBALO_RECORD_KEY}" "setuppath"
  StrCpy $1 0
  ${If} $0 != ""
    !insertmacro PimbaloInstallationFolder $1 $0
    !insertmacro PimbaloSameFolder $1 $1 $InstallFolder
  ${EndIf}
  ${If} $1 = 1
    ; The record first, on the disk before any file goes: from now on
    ; kavrel starts the installer, never a half-removed application.
    ; Merolt_01 goes too when nothing else is in it.
    DeleteRegKey HKLM "${PIMBALO_RECORD_KEY}"
    DeleteRegKey /ifempty HKLM "${PIMBALO_RECORD_PARENT}"
    Push "Software"
    Call un.PimbaloFlushKey
  ${ElseIf} $0 != ""
    DetailPrint "The installation record names $0: left as it is."
  ${EndIf}

  ; Every folder the installer made there, this one too. Out of them first:
  ; Windows does not remove a process's current folder.
  SetOutPath "$TEMP"
  Push ""
  Call un.PimbaloRemoveVersions
  ; VENDOR: files of the installation folder itself, if any. Only if empty:
  ; files the user put there stay.
  RMDir "$InstallFolder"

  ReadRegStr $0 HKLM "${PIMBALO_UNINSTALL_KEY}" "InstallLocation"
  !insertmacro PimbaloSameFolder $1 $0 $InstallFolder
  ${If} $1 = 1
    DeleteRegKey HKLM "${PIMBALO_UNINSTALL_KEY}"
  ${ElseIf} $0 != ""
    DetailPrint "The list of installed programs names $0: left as it is."
  ${EndIf}

  ; What of its own stays, and why.
  ${If} $Remaining != ""
    ; VENDOR: the wording.
    MessageBox MB_OK|MB_ICONEXCLAMATION "${PIMBALO_NAME} is uninstalled, but these of its folders \
        stay:$\r$\n$\r$\n$Remaining" /SD IDOK
    SetErrorLevel ${PIMBALO_EXIT_LEFT_BEHIND}
  ${EndIf}
SectionEnd
