; pimbalo_permissions.nsh: folders only administrators can change, made so
; by the installer, and whether an existing one is. Included by
; instaluj_pimbalo.nsi, for the installer only.
;
; kavrel starts, for every user, administrators included, the program the
; record names, by its path. Whoever could change the installation folder,
; or rename or replace a folder above it, could put a program of their own
; at that path. So the installer makes every folder of the path it makes
; with permissions only administrators can change (PIMBALO_PROTECTED), and
; refuses an existing one that others could change: the installation folder
; if anyone else may add to it, change it, remove or rename it, or change
; its permissions or owner (PIMBALO_CHANGE_FOLDER); each folder above it, a
; drive's root included, if anyone else may remove or rename it or what is
; in it, or change its permissions or owner (PIMBALO_CHANGE_ABOVE); any of
; them if owned by anyone else (an owner may change the permissions).
;
; "Administrators" are SYSTEM, the Administrators group, TrustedInstaller,
; the account running this installer (an administrator), and the SIDs no
; process holds for itself (CREATOR OWNER; OWNER RIGHTS, which stands for
; the owner, who is checked on its own). Only entries that grant access
; count; an entry that denies it is passed over (it takes away, never
; gives), and one of a kind this installer cannot judge (a conditional
; entry, say) counts as granting.
;
; Uses the caller's $UserSid, $INSTDIR and $FolderProblem, the macro
; PimbaloFolderThere and the define PIMBALO_PROTECTED.

; The rights no one but administrators may hold on the installation folder:
; to add a file or folder (2, 4), change attributes (0x10, 0x100), remove
; what is in it (0x40), remove or rename it (DELETE), change its
; permissions or owner (WRITE_DAC, WRITE_OWNER), or GENERIC_ALL and
; GENERIC_WRITE, which include them.
!define PIMBALO_CHANGE_FOLDER 0x500D0156
; ... and on each folder above it: to rename or remove it or what is in it,
; or change its permissions or owner. Whoever could would put a folder of
; their own where the record points.
!define PIMBALO_CHANGE_ABOVE 0x100D0040

; Pops a folder and makes it with permissions of its own (PIMBALO_PROTECTED)
; rather than those of the folder it is in: SYSTEM and the Administrators
; may change it and what it holds, Users may only read and run. Pushes 0
; when it made it, else Windows' error (183 when it is there already).
Function PimbaloMakeProtectedFolder
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $1 "${PIMBALO_PROTECTED}"
  ; SDDL_REVISION_1
  System::Call "advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w r1, i 1, *p .r2, p 0) i .r3 ?e"
  Pop $4
  ${If} $3 <> 0
    ; SECURITY_ATTRIBUTES: nLength, the descriptor (aligned to its size),
    ; bInheritHandle.
    !if ${NSIS_PTR_SIZE} > 4
      System::Call "*(i 24, i 0, p r2, i 0, i 0) p .r1"
    !else
      System::Call "*(i 12, p r2, i 0) p .r1"
    !endif
    System::Call "kernel32::CreateDirectoryW(w r0, p r1) i .r3 ?e"
    Pop $4
    ${If} $3 <> 0
      StrCpy $4 0
    ${EndIf}
    System::Free $1
    System::Call "kernel32::LocalFree(p r2)"
  ${EndIf}
  StrCpy $0 $4
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Pushes "" when the SID (popped, a pointer) is one of the administrators'
; (above), else the account's name (DOMAIN\name, or the SID itself).
Function PimbaloOtherAccount
  Exch $0
  Push $1
  Push $2
  Push $3
  System::Call "advapi32::ConvertSidToStringSidW(p r0, *p .r1) i .r2"
  ${If} $2 = 0
    StrCpy $0 "an account whose SID cannot be read"
  ${Else}
    System::Call "kernel32::lstrcpynW(w .r2, p r1, i ${NSIS_MAX_STRLEN})"
    System::Call "kernel32::LocalFree(p r1)"
    ${If} $2 == "S-1-5-18"
    ${OrIf} $2 == "S-1-5-32-544"
    ${OrIf} $2 == "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
    ${OrIf} $2 == "S-1-3-0"
    ${OrIf} $2 == "S-1-3-4"
    ${OrIf} $2 == $UserSid
      StrCpy $0 ""
    ${Else}
      System::Call "advapi32::LookupAccountSidW(p 0, p r0, w .r1, *i ${NSIS_MAX_STRLEN}, w .r3, \
          *i ${NSIS_MAX_STRLEN}, *i 0) i .r0"
      ${If} $0 = 0
        StrCpy $0 $2
      ${ElseIf} $3 == ""
        StrCpy $0 $1
      ${Else}
        StrCpy $0 "$3\$1"
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Pops a mask of rights, then a folder; pushes "" when only administrators
; own the folder and hold any of those rights on it, else who else does.
Function PimbaloOthersMay
  Exch $1
  Exch
  Exch $0
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  Push $7
  Push $8
  Push $9
  StrCpy $9 ""
  ; SE_FILE_OBJECT; OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION.
  System::Call "advapi32::GetNamedSecurityInfoW(w r0, i 1, i 5, *p .r2, p 0, *p .r3, p 0, *p .r4) i .r5"
  ${If} $5 <> 0
    StrCpy $9 "its permissions cannot be read (error $5)"
  ${Else}
    Push $2
    Call PimbaloOtherAccount
    Pop $5
    ${If} $5 != ""
      StrCpy $9 "$5 owns it"
    ${ElseIf} $3 P= 0
      StrCpy $9 "it has no permissions at all, so everyone may change it"
    ${Else}
      ; ACL: AclRevision, Sbz1 (a byte each), AclSize, AceCount.
      System::Call "*$3(&i1, &i1, &i2, &i2 .r5)"
      StrCpy $6 0
      ${DoWhile} $6 < $5
        System::Call "advapi32::GetAce(p r3, i r6, *p .r7) i .r8"
        ${If} $8 = 0
          StrCpy $9 "its permissions cannot be read"
          ${ExitDo}
        ${EndIf}
        ; ACE_HEADER: AceType, AceFlags (a byte each), AceSize; then the
        ; mask, and the SID at 8 for ACCESS_ALLOWED_ACE.
        System::Call "*$7(&i1 .r8, &i1 .r2, &i2, i .r4)"
        ; INHERIT_ONLY_ACE: for what is made inside, not for the folder.
        IntOp $2 $2 & 8
        ${If} $2 = 0
          ${If} $8 = 0
            IntOp $4 $4 & $1
            ${If} $4 <> 0
              IntPtrOp $7 $7 + 8
              Push $7
              Call PimbaloOtherAccount
              Pop $2
              ${If} $2 != ""
                IntFmt $4 "0x%08X" $4
                StrCpy $9 "$2 may change it (rights $4)"
                ${ExitDo}
              ${EndIf}
            ${EndIf}
          ${ElseIf} $8 <> 1
            ; Neither ACCESS_ALLOWED_ACE_TYPE nor ACCESS_DENIED_ACE_TYPE.
            StrCpy $9 "its permissions hold an entry this installer cannot judge (type $8)"
            ${ExitDo}
          ${EndIf}
        ${EndIf}
        IntOp $6 $6 + 1
      ${Loop}
    ${EndIf}
    System::Call "kernel32::LocalFree(p r4)"
  ${EndIf}
  StrCpy $0 $9
  Pop $9
  Pop $8
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Sets $FolderProblem to why users other than administrators could change
; what kavrel would start from $INSTDIR, or leaves it as it is. Folders of
; the path that are not there yet are passed over: the installer makes
; them.
Function PimbaloCheckPermissions
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $0 $INSTDIR
  StrCpy $1 ${PIMBALO_CHANGE_FOLDER}
  ${Do}
    !insertmacro PimbaloFolderThere $2 $0
    ${If} $2 = 1
      ; "X:" is the current folder on drive X; its root is "X:\".
      StrCpy $2 $0
      StrLen $3 $2
      ${If} $3 = 2
        StrCpy $2 "$2\"
      ${EndIf}
      Push $2
      Push $1
      Call PimbaloOthersMay
      Pop $3
      ${If} $3 != ""
        ; VENDOR: the wording.
        StrCpy $FolderProblem "${PIMBALO_NAME} may not be installed there: users other than \
            administrators could change$\r$\n$\r$\n$2$\r$\n$\r$\n($3), and so put a program of \
            their own where ${PIMBALO_NAME} is started for every user.$\r$\n$\r$\nChoose a folder \
            only administrators can change, such as one in Program Files."
        ${ExitDo}
      ${EndIf}
    ${EndIf}
    StrCpy $1 ${PIMBALO_CHANGE_ABOVE}
    ${GetParent} $0 $0
  ${LoopUntil} $0 == ""
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Sets $UserSid to the SID of the account running this installer, or "".
Function PimbaloUserSid
  StrCpy $UserSid ""
  ; The current process (-1), TOKEN_QUERY.
  System::Call "advapi32::OpenProcessToken(p -1, i 8, *p .r0) i .r1"
  ${If} $1 <> 0
    System::Alloc 512
    Pop $2
    ; TokenUser: a TOKEN_USER, whose first member points to the SID.
    System::Call "advapi32::GetTokenInformation(p r0, i 1, p r2, i 512, *i .r3) i .r1"
    ${If} $1 <> 0
      System::Call "*$2(p .r3)"
      System::Call "advapi32::ConvertSidToStringSidW(p r3, *p .r4) i .r1"
      ${If} $1 <> 0
        System::Call "kernel32::lstrcpynW(w .r1, p r4, i ${NSIS_MAX_STRLEN})"
        StrCpy $UserSid $1
        System::Call "kernel32::LocalFree(p r4)"
      ${EndIf}
    ${EndIf}
    System::Free $2
    System::Call "kernel32::CloseHandle(p r0)"
  ${EndIf}
FunctionEnd
