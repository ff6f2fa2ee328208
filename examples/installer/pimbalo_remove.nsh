; pimbalo_remove.nsh: how the installer and the uninstaller remove the
; folders the installer made inside the installation folder, and nothing
; else. Included by instaluj_pimbalo.nsi, once for the installer and once
; ("un.") for the uninstaller.
;
; A folder is the installer's own when it holds the mark (PIMBALO_MARK), a
; plain file the installer writes first into every folder it makes there.
; Only administrators can write into the installation folder (the installer
; refuses one that others can change, and makes its own folders so), so no
; one else can forge a mark; nor is it tied to the program's name, so a
; version whose program has another name still removes the older ones.
;
; A folder goes whole or not at all:
;  1. every file in it, at any depth, is opened for writing with no sharing:
;     a running program's file cannot be, nor can a file another program
;     has open, so a folder in use stays as it is, for a later run;
;  2. it is renamed to a tombstone (PIMBALO_TOMBSTONE): on Windows the
;     rename fails while anything in the folder is open, which closes the
;     gap between the check and the removal;
;  3. the tombstone is emptied, its mark last, and removed: a removal cut
;     short leaves a marked folder that no record names, which the next
;     run removes.
; No step ever enters or follows a link: an entry marked as a reparse
; point (a junction, a symbolic link, a mount point) keeps its whole folder
; in place, and the removal says so. Every entry's attributes are read from
; the entry itself (GetFileAttributesW reports a link's own), just before
; it is opened or entered; only administrators can change what is in these
; folders in between.
;
; Uses the caller's $InstallFolder, $KeepFile, $LegacyFolder and
; $LegacyAppfile, the macro PimbaloSameFolder and the function
; PimbaloMakeProtectedFolder; sets $Remaining, $BusyPath, $BusyLink,
; $TreeTop and $FolderName.

; Sets RESULT to 1 when the last part of PATH begins with PREFIX (without
; regard to case), else to 0. Changes no register but RESULT.
!macro PimbaloNameBegins RESULT PATH PREFIX
  ${GetFileName} "${PATH}" $FolderName
  StrLen ${RESULT} "${PREFIX}"
  StrCpy $FolderName $FolderName ${RESULT}
  ${If} $FolderName == "${PREFIX}"
    StrCpy ${RESULT} 1
  ${Else}
    StrCpy ${RESULT} 0
  ${EndIf}
!macroend

!macro PimbaloRemoveFunctions UN
  ; Pops a folder; pushes 1 when it is one the installer made: a folder,
  ; not a link, holding the mark as a plain file; else 0.
  Function ${UN}PimbaloOwnFolder
    Exch $0
    Push $1
    Push $2
    StrCpy $2 0
    System::Call "kernel32::GetFileAttributesW(w r0) i .r1"
    ; A folder (0x10) and not a reparse point (0x400).
    IntOp $1 $1 & 0x410
    ${If} $1 = 0x10
      StrCpy $0 "$0\${PIMBALO_MARK}"
      System::Call "kernel32::GetFileAttributesW(w r0) i .r1"
      ${If} $1 <> -1
        IntOp $1 $1 & 0x410
        ${If} $1 = 0
          StrCpy $2 1
        ${EndIf}
      ${EndIf}
    ${EndIf}
    StrCpy $0 $2
    Pop $2
    Pop $1
    Exch $0
  FunctionEnd

  ; Pops a folder; pushes "" when nothing in it, at any depth, is in the
  ; way of its removal; else the first thing that is, also in $BusyPath,
  ; with $BusyLink 1 when that is a link, 0 when it is a file in use (or
  ; one that cannot be opened, or read). $KeepFile is passed over.
  Function ${UN}PimbaloTreeBusy
    Exch $0
    Push $1
    Push $2
    Push $3
    Push $4
    StrCpy $3 ""
    FindFirst $1 $2 "$0\*"
    ${DoWhile} $2 != ""
      ${If} $2 != "."
      ${AndIf} $2 != ".."
        StrCpy $2 "$0\$2"
        !insertmacro PimbaloSameFolder $4 $2 $KeepFile
        ${If} $4 = 0
          System::Call "kernel32::GetFileAttributesW(w r2) i .r4"
          ${If} $4 = -1
            StrCpy $3 $2
            StrCpy $BusyLink 0
          ${Else}
            IntOp $4 $4 & 0x410
            ${If} $4 <> 0
            ${AndIf} $4 <> 0x10
              StrCpy $3 $2
              StrCpy $BusyLink 1
            ${ElseIf} $4 = 0x10
              Push $2
              Call ${UN}PimbaloTreeBusy
              Pop $3
            ${Else}
              ; GENERIC_WRITE, no sharing, OPEN_EXISTING,
              ; FILE_FLAG_OPEN_REPARSE_POINT. A read-only file cannot be
              ; opened for writing at all: GENERIC_READ with no sharing
              ; tells whether another program has it open (a running
              ; read-only program is left to Windows' refusal to rename
              ; its folder).
              System::Call "kernel32::GetFileAttributesW(w r2) i .r4"
              IntOp $4 $4 & 1
              ${If} $4 = 0
                StrCpy $4 0x40000000
              ${Else}
                StrCpy $4 0x80000000
              ${EndIf}
              System::Call "kernel32::CreateFileW(w r2, i r4, i 0, p 0, i 3, i 0x200000, p 0) p .r4"
              ${If} $4 P= -1
                StrCpy $3 $2
                StrCpy $BusyLink 0
              ${Else}
                System::Call "kernel32::CloseHandle(p r4)"
              ${EndIf}
            ${EndIf}
          ${EndIf}
          ${If} $3 != ""
            ${ExitDo}
          ${EndIf}
        ${EndIf}
      ${EndIf}
      FindNext $1 $2
    ${Loop}
    FindClose $1
    StrCpy $BusyPath $3
    StrCpy $0 $3
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Exch $0
  FunctionEnd

  ; Pops a folder and removes what is in it, at any depth: each file
  ; (read-only or not), and each folder once empty; never a link, nor what
  ; one leads to: it stops there. $KeepFile and $TreeTop's mark stay.
  ; Pushes "" when all went, else why not. The names are listed first,
  ; onto the stack above a mark no name can be ("|"): a listing that goes
  ; on while its entries are removed may pass over some (Wine's does).
  Function ${UN}PimbaloDeleteTree
    Exch $0
    Push $1
    Push $2
    Push $3
    Push $4
    StrCpy $3 ""
    Push "|"
    FindFirst $1 $2 "$0\*"
    ${DoWhile} $2 != ""
      ${If} $2 != "."
      ${AndIf} $2 != ".."
        Push "$0\$2"
      ${EndIf}
      FindNext $1 $2
    ${Loop}
    FindClose $1
    ${Do}
      Pop $2
      ${If} $2 == "|"
        ${ExitDo}
      ${EndIf}
      !insertmacro PimbaloSameFolder $4 $2 $KeepFile
      ${If} $4 = 0
        !insertmacro PimbaloSameFolder $4 $2 "$TreeTop\${PIMBALO_MARK}"
      ${EndIf}
      ${If} $4 = 0
      ${AndIf} $3 == ""
        System::Call "kernel32::GetFileAttributesW(w r2) i .r4"
        ${If} $4 = -1
          StrCpy $3 "$2 cannot be read"
        ${Else}
          IntOp $4 $4 & 0x411
          ${If} $4 >= 0x400
            StrCpy $3 "$2 is a link, which setup neither follows nor removes"
          ${ElseIf} $4 >= 0x10
            Push $2
            Call ${UN}PimbaloDeleteTree
            Pop $3
            ${If} $3 == ""
              System::Call "kernel32::RemoveDirectoryW(w r2) i .r4 ?e"
              Pop $1
              ${If} $4 = 0
                StrCpy $3 "$2 could not be removed (error $1)"
              ${EndIf}
            ${EndIf}
          ${Else}
            ${If} $4 = 1
              ; FILE_ATTRIBUTE_NORMAL: not read-only any more.
              System::Call "kernel32::SetFileAttributesW(w r2, i 0x80)"
            ${EndIf}
            System::Call "kernel32::DeleteFileW(w r2) i .r4 ?e"
            Pop $1
            ${If} $4 = 0
              StrCpy $3 "$2 could not be removed (error $1)"
            ${EndIf}
          ${EndIf}
        ${EndIf}
      ${EndIf}
    ${Loop}
    StrCpy $0 $3
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Exch $0
  FunctionEnd

  ; Pops a folder the installer made (PimbaloOwnFolder) and removes it
  ; whole, or leaves it as it is; pushes "" when it went, else what stays
  ; and why. A folder holding $KeepFile (the uninstaller running in place)
  ; is emptied but for that file and the mark, so that a later run removes
  ; the rest.
  Function ${UN}PimbaloRemoveFolder
    Exch $0
    Push $1
    Push $2
    Push $3
    Push $4
    StrCpy $3 ""
    Push $0
    Call ${UN}PimbaloTreeBusy
    Pop $1
    ${If} $1 != ""
      ${If} $BusyLink = 1
        StrCpy $3 "$0 stays as it is: $1 is a link (a junction or a symbolic link), which setup \
            neither follows nor removes; once the link is gone, the next installer or uninstaller \
            removes the folder"
      ${Else}
        StrCpy $3 "$0 stays as it is: $1 is in use; the next installer or uninstaller removes \
            the folder once nothing uses it"
      ${EndIf}
    ${Else}
      ; Renamed first, unless it is a tombstone already or holds the
      ; uninstaller running in place (which Windows would not rename).
      ${GetParent} $KeepFile $1
      !insertmacro PimbaloSameFolder $1 $1 $0
      !insertmacro PimbaloNameBegins $2 $0 "${PIMBALO_TOMBSTONE}"
      ${If} $1 = 0
      ${AndIf} $2 = 0
        StrCpy $1 1
        ${Do}
          StrCpy $2 "$InstallFolder\${PIMBALO_TOMBSTONE}$1"
          System::Call "kernel32::GetFileAttributesW(w r2) i .r4"
          ${If} $4 = -1
            ${ExitDo}
          ${EndIf}
          IntOp $1 $1 + 1
          ${If} $1 > 99
            StrCpy $2 ""
            ${ExitDo}
          ${EndIf}
        ${Loop}
        ${If} $2 == ""
          StrCpy $3 "$0 stays as it is: there are 99 folders being removed already"
        ${Else}
          System::Call "kernel32::MoveFileW(w r0, w r2) i .r1 ?e"
          Pop $4
          ${If} $1 = 0
            StrCpy $3 "$0 stays as it is: Windows did not let it be renamed (error $4), so \
                something in it is in use; the next installer or uninstaller removes it"
          ${Else}
            StrCpy $0 $2
          ${EndIf}
        ${EndIf}
      ${EndIf}
      ${If} $3 == ""
        StrCpy $TreeTop $0
        Push $0
        Call ${UN}PimbaloDeleteTree
        Pop $3
        ${If} $3 != ""
          StrCpy $3 "$0 is partly removed: $3; the next installer or uninstaller removes the rest"
        ${Else}
          ${GetParent} $KeepFile $1
          !insertmacro PimbaloSameFolder $1 $1 $0
          ${If} $1 = 0
            StrCpy $2 "$0\${PIMBALO_MARK}"
            System::Call "kernel32::DeleteFileW(w r2)"
            System::Call "kernel32::RemoveDirectoryW(w r0) i .r1 ?e"
            Pop $4
            ${If} $1 = 0
              StrCpy $3 "$0 could not be removed (error $4); the next installer or uninstaller \
                  removes it"
            ${EndIf}
          ${EndIf}
        ${EndIf}
      ${EndIf}
    ${EndIf}
    StrCpy $0 $3
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Exch $0
  FunctionEnd

  ; Pops a folder to keep ("" for none) and removes every other folder of
  ; $InstallFolder that the installer made, each whole or not at all. What
  ; stays is in the details and added to $Remaining, a line each. An empty
  ; folder with a version folder's or a tombstone's name goes too (what a
  ; run ended between making a folder and writing its mark leaves); other
  ; folders and files there are not the installer's, and stay.
  Function ${UN}PimbaloRemoveVersions
    Exch $R0
    Push $R1
    Push $R2
    Push $R3
    ; The names first, onto the stack above a mark no name can be ("|"),
    ; since a removal renames entries of the folder being listed.
    Push "|"
    FindFirst $R1 $R2 "$InstallFolder\*"
    ${DoWhile} $R2 != ""
      ${If} $R2 != "."
      ${AndIf} $R2 != ".."
        Push "$InstallFolder\$R2"
      ${EndIf}
      FindNext $R1 $R2
    ${Loop}
    FindClose $R1
    ${Do}
      Pop $R2
      ${If} $R2 == "|"
        ${ExitDo}
      ${EndIf}
      !insertmacro PimbaloSameFolder $R3 $R2 $R0
      ${If} $R3 = 0
        Push $R2
        Call ${UN}PimbaloOwnFolder
        Pop $R3
        ${If} $R3 = 1
          Push $R2
          Call ${UN}PimbaloRemoveFolder
          Pop $R3
          ${If} $R3 != ""
            DetailPrint $R3
            StrCpy $Remaining "$Remaining$R3$\r$\n"
          ${EndIf}
        ${Else}
          !insertmacro PimbaloNameBegins $R1 $R2 "app-"
          !insertmacro PimbaloNameBegins $R3 $R2 "${PIMBALO_TOMBSTONE}"
          ${If} $R1 = 1
          ${OrIf} $R3 = 1
            System::Call "kernel32::GetFileAttributesW(w R2) i .R3"
            IntOp $R3 $R3 & 0x410
            ${If} $R3 = 0x10
              ; Removes only an empty folder.
              System::Call "kernel32::RemoveDirectoryW(w R2)"
            ${EndIf}
          ${EndIf}
        ${EndIf}
      ${EndIf}
    ${Loop}
    Pop $R3
    Pop $R2
    Pop $R1
    Pop $R0
  FunctionEnd
!macroend

; Pushes a file in use in a folder of $InstallFolder that the installer
; made, or "". A link there is not in use: its folder stays, and the
; removal says so.
Function un.PimbaloVersionInUse
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $3 ""
  FindFirst $0 $1 "$InstallFolder\*"
  ${DoWhile} $1 != ""
    ${If} $1 != "."
    ${AndIf} $1 != ".."
      Push "$InstallFolder\$1"
      Call un.PimbaloOwnFolder
      Pop $2
      ${If} $2 = 1
        Push "$InstallFolder\$1"
        Call un.PimbaloTreeBusy
        Pop $2
        ${If} $2 != ""
        ${AndIf} $BusyLink = 0
          StrCpy $3 $2
          ${ExitDo}
        ${EndIf}
      ${EndIf}
    ${EndIf}
    FindNext $0 $1
  ${Loop}
  FindClose $0
  StrCpy $0 $3
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Moves what an installation from before version folders left directly in
; $LegacyFolder, the program file it recorded and its uninstaller, into a
; tombstone of their own (marked, as the installer makes every folder), for
; PimbaloRemoveVersions to remove with the old version folders: whole, or
; at a later run if the old program still runs. Only plain files move.
Function PimbaloRetireLegacy
  StrCpy $1 1
  ${Do}
    StrCpy $0 "$InstallFolder\${PIMBALO_TOMBSTONE}$1"
    Push $0
    Call PimbaloMakeProtectedFolder
    Pop $2
    ${If} $2 = 0
      ${ExitDo}
    ${EndIf}
    IntOp $1 $1 + 1
    ${If} $2 <> 183
    ${OrIf} $1 > 99
      DetailPrint "Cannot make a folder to remove the old version's files in (error $2): \
          they stay in $LegacyFolder."
      Return
    ${EndIf}
  ${Loop}
  FileOpen $2 "$0\${PIMBALO_MARK}" w
  FileWrite $2 "${PIMBALO_NAME} Setup made this folder to remove an older version's files.$\r$\n"
  FileClose $2
  Push "uninstall.exe"
  Push $LegacyAppfile
  ${For} $1 1 2
    Pop $2
    StrCpy $3 "$LegacyFolder\$2"
    System::Call "kernel32::GetFileAttributesW(w r3) i .r4"
    ${If} $2 == ""
    ${OrIf} $4 = -1
      ${Continue}
    ${EndIf}
    IntOp $4 $4 & 0x410
    ${GetFileName} $3 $2
    StrCpy $2 "$0\$2"
    ${If} $4 <> 0
      DetailPrint "Not a plain file, left as it is: $3"
    ${Else}
      System::Call "kernel32::MoveFileW(w r3, w r2) i .r4 ?e"
      Pop $5
      ${If} $4 = 0
        DetailPrint "Cannot move $3 (error $5): it stays."
      ${EndIf}
    ${EndIf}
  ${Next}
  ; A program in a folder of its own (bin\pimbalo.exe): that folder, if
  ; empty now.
  ${GetParent} "$LegacyFolder\$LegacyAppfile" $3
  !insertmacro PimbaloSameFolder $4 $3 $LegacyFolder
  ${If} $4 = 0
    System::Call "kernel32::GetFileAttributesW(w r3) i .r4"
    IntOp $4 $4 & 0x410
    ${If} $4 = 0x10
      System::Call "kernel32::RemoveDirectoryW(w r3)"
    ${EndIf}
  ${EndIf}
FunctionEnd
