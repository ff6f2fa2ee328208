; instaluj_pimbalo.nsi: an installer that works with kavrel, for NSIS 3.
;
; kavrel starts instaluj_pimbalo.exe from its own folder whenever the
; application is not installed, is older than kavrel's caller asks for, or
; will not start. This installer writes the installation record kavrel
; reads, registers itself with Windows' list of installed programs, and its
; uninstaller removes both again. Build it with your own application file
; and version number, and change nothing else to start with:
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
; script's folder, and takes relative paths from there.
;
; What you will want to change is marked "VENDOR:". What kavrel relies on
; (the record's key, its three values and their types, the 32-bit view) is
; marked "KAVREL:" and must stay as it is.
;
; Two more defines are for kavrel's own tests and for finding out how the
; installer was started on a machine, not for shipping:
;   PIMBALO_TARGET        another NSIS target, such as amd64-unicode (the
;                         shipped form is NSIS's default, x86-unicode)
;   PIMBALO_STARTUP_LOG   a folder; each start of the installer writes a file
;                         there, named by its process id, with the show state
;                         its startup information asks for, what it did, its
;                         command line and its installation folder

Unicode true
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
; The caption of the installer's window. A second start finds the running
; installer by it.
!define PIMBALO_CAPTION "${PIMBALO_NAME} Setup"
; VENDOR: a name of your own for the mutex that keeps one installer running.
!define PIMBALO_MUTEX "Merolt_01.Pimbalo.Installer"

; KAVREL: the installation record, read by kavrel in the 32-bit view.
!define PIMBALO_RECORD_PARENT "Software\Merolt_01"
!define PIMBALO_RECORD_KEY "${PIMBALO_RECORD_PARENT}\Pimbalo"
; Windows' list of installed programs.
!define PIMBALO_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PIMBALO_NAME}"

Name "${PIMBALO_NAME}"
Caption "${PIMBALO_CAPTION}"
UninstallCaption "${PIMBALO_NAME} Uninstall"
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
ShowInstDetails show
ShowUninstDetails show
; VENDOR: the text in the line above the buttons.
BrandingText "${PIMBALO_NAME} ${PIMBALO_VERSION}"

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh

; VENDOR: the pages. A license page (MUI_PAGE_LICENSE) or a finish page
; that runs the application can be added; the application is better
; started by kavrel, which checks the record first.
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; VENDOR: more languages after this one, if wanted.
!insertmacro MUI_LANGUAGE "English"

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
  ReadEnvStr $0 ${PIMBALO_RELAUNCH_MARK}
  ${If} $0 != ""
    ; This is the copy started below: never start another, whatever it got.
    System::Call "kernel32::SetEnvironmentVariableW(w '${PIMBALO_RELAUNCH_MARK}', p 0)"
    Return
  ${EndIf}
  ${If} $StartupShowFlag = 0
  ${OrIf} $StartupShowWindow <> ${SW_HIDE}
    Return
  ${EndIf}

  ${GetParameters} $1
  ; NSIS takes /D= off its command line and puts it into $INSTDIR: give it
  ; back, so that the new copy installs where this one was asked to.
  ${If} $INSTDIR != "$PROGRAMFILES32\${PIMBALO_FOLDER}"
    ${If} $1 == ""
      StrCpy $1 "/D=$INSTDIR"
    ${Else}
      StrCpy $1 "$1 /D=$INSTDIR"
    ${EndIf}
  ${EndIf}
  System::Call "kernel32::SetEnvironmentVariableW(w '${PIMBALO_RELAUNCH_MARK}', w '1')"
  System::Call "shell32::ShellExecuteW(p 0, p 0, w '$EXEPATH', w '$1', p 0, i ${SW_SHOWNORMAL}) p .r0"
  System::Call "kernel32::SetEnvironmentVariableW(w '${PIMBALO_RELAUNCH_MARK}', p 0)"
  ; ShellExecute returns a value above 32 when it started the program.
  ${If} $0 > 32
    !insertmacro PimbaloStartupLog "relaunched"
    Quit
  ${EndIf}
  ; The shell could not start it: go on here rather than not at all.
  !insertmacro PimbaloStartupLog "relaunch failed ($0)"
FunctionEnd

; One installer at a time: the first holds a named mutex for as long as it
; runs. A second start brings the running installer's window to the front
; and quits. Windows closes the mutex when the installer ends.
Function PimbaloOnlyOneRunning
  System::Call "kernel32::CreateMutexW(p 0, i 0, w '${PIMBALO_MUTEX}') p .r0 ?e"
  Pop $1
  ; ERROR_ALREADY_EXISTS
  ${If} $1 = 183
    ; Modern UI pages after the first add a space to the caption.
    System::Call "user32::FindWindowW(w '#32770', w '${PIMBALO_CAPTION}') p .r0"
    ${If} $0 P= 0
      System::Call "user32::FindWindowW(w '#32770', w '${PIMBALO_CAPTION} ') p .r0"
    ${EndIf}
    ${If} $0 P<> 0
      System::Call "user32::IsIconic(p r0) i .r1"
      ${If} $1 <> 0
        System::Call "user32::ShowWindow(p r0, i ${SW_RESTORE})"
      ${EndIf}
      System::Call "user32::SetForegroundWindow(p r0)"
    ${EndIf}
    !insertmacro PimbaloStartupLog "already running"
    SetErrorLevel 4
    Quit
  ${EndIf}
FunctionEnd

Function .onInit
  ; KAVREL: the record lives in the 32-bit view, whatever this build's width.
  SetRegView 32
  Call PimbaloShowIfStartedHidden
  Call PimbaloOnlyOneRunning

  ; $INSTDIR is still InstallDir's unless /D= named another folder.
  StrCpy $2 "$PROGRAMFILES32\${PIMBALO_FOLDER}"
  !if ${NSIS_PTR_SIZE} > 4
    ReadEnvStr $0 "ProgramFiles(x86)"
    ${If} $0 != ""
    ${AndIf} $INSTDIR == $2
      StrCpy $INSTDIR "$0\${PIMBALO_FOLDER}"
      StrCpy $2 $INSTDIR
    ${EndIf}
  !endif

  ClearErrors
  ReadRegDWORD $0 HKLM "${PIMBALO_RECORD_KEY}" "version"
  ${IfNot} ${Errors}
    ${If} $0 U> ${PIMBALO_VERSION}
      ; VENDOR: the wording.
      MessageBox MB_OK|MB_ICONSTOP "${PIMBALO_NAME} version $0 is installed, which is newer than \
          version ${PIMBALO_VERSION} in this installer. Nothing was changed." /SD IDOK
      !insertmacro PimbaloStartupLog "refused to downgrade"
      SetErrorLevel 3
      Quit
    ${EndIf}
    ; An update goes where the application already is, unless /D= named
    ; another folder.
    ReadRegStr $1 HKLM "${PIMBALO_RECORD_KEY}" "setuppath"
    ${If} $1 != ""
    ${AndIf} $INSTDIR == $2
      StrCpy $INSTDIR $1
    ${EndIf}
  ${EndIf}
  !insertmacro PimbaloStartupLog "going on"
FunctionEnd

Section "${PIMBALO_NAME}"
  SetOutPath "$INSTDIR"
  ; VENDOR: the application's other files go here too.
  File "${PIMBALO_APP}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetRegView 32
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegStr HKLM "${PIMBALO_UNINSTALL_KEY}" "DisplayName" "${PIMBALO_NAME}"
  WriteRegStr HKLM "${PIMBALO_UNINSTALL_KEY}" "DisplayVersion" "${PIMBALO_VERSION}"
  WriteRegStr HKLM "${PIMBALO_UNINSTALL_KEY}" "Publisher" "${PIMBALO_PUBLISHER}"
  WriteRegStr HKLM "${PIMBALO_UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PIMBALO_APPFILE}"
  WriteRegStr HKLM "${PIMBALO_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${PIMBALO_UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${PIMBALO_UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${PIMBALO_UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKLM "${PIMBALO_UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${PIMBALO_UNINSTALL_KEY}" "NoRepair" 1

  ; KAVREL: the record, last, once everything it points to is in place.
  ; setuppath is the folder without a closing backslash (NSIS keeps
  ; $INSTDIR so), appfile the program file's name in it, version a DWORD.
  WriteRegStr HKLM "${PIMBALO_RECORD_KEY}" "setuppath" "$INSTDIR"
  WriteRegStr HKLM "${PIMBALO_RECORD_KEY}" "appfile" "${PIMBALO_APPFILE}"
  WriteRegDWORD HKLM "${PIMBALO_RECORD_KEY}" "version" ${PIMBALO_VERSION}
SectionEnd

Function un.onInit
  SetRegView 32
FunctionEnd

Section "Uninstall"
  SetRegView 32
  ; The record first: from now on kavrel starts the installer, never a
  ; half-removed application. Merolt_01 goes too when nothing else is in it.
  DeleteRegKey HKLM "${PIMBALO_RECORD_KEY}"
  DeleteRegKey /ifempty HKLM "${PIMBALO_RECORD_PARENT}"

  ; VENDOR: the application's other files.
  Delete "$INSTDIR\${PIMBALO_APPFILE}"
  Delete "$INSTDIR\uninstall.exe"
  ; Only if empty: files the user put there stay.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${PIMBALO_UNINSTALL_KEY}"
SectionEnd
