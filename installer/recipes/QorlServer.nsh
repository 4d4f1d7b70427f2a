; QorlServer.nsh: QorlServer in a printer maker's own NSIS 3 setup.
; Builds for x86-unicode (ship this one: XP and later) and amd64-unicode.
;
; Define before including:
;   QORL_SUITE   the suite's name; the Run value is "QorlServer-${QORL_SUITE}",
;                so that no install removes another's start at logon
;   QORL_FILES   the folder holding QorlServer.exe, QorlSend.exe, the guides
;                (install.md, support.md, support.zh-CN.md), LICENSE and
;                THIRD-PARTY-NOTICES.txt at compile time: the release zip's files
;   QORL_PER_MACHINE (optional) Run value under HKLM, in the registry view of
;                the server's bitness (32-bit unless QORL_AMD64)
;   QORL_AMD64   (optional) the files are a 64-bit build
;
; In the install section, in this order:
;   !insertmacro QorlStop          stop this folder's server, or abort (copies nothing)
;   !insertmacro QorlInstallFiles  the two programs, the guides and the notices into $INSTDIR
;   !insertmacro QorlRegisterStart the Run value
;   !insertmacro QorlStartServer   start it as the user running the setup
; Per machine (QORL_PER_MACHINE), after the files: Call QorlUsersMayWriteBoxIni
; ($0 is 0, or what failed), and !insertmacro QorlStartServerAsShellUser to start it.
; In the uninstall section:
;   !insertmacro QorlUnStop, then !insertmacro QorlRemove
; and once, outside any section: !insertmacro QorlFunctions
; They use $0 to $5.

!ifndef QORL_SUITE
  !error "QorlServer.nsh: define QORL_SUITE (your suite's name) first"
!endif
!ifndef QORL_FILES
  !error "QorlServer.nsh: define QORL_FILES (the folder with QorlServer.exe) first"
!endif
!include LogicLib.nsh
!include WinVer.nsh

!define QORL_RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define QORL_RUN_VALUE "QorlServer-${QORL_SUITE}"
!ifdef QORL_PER_MACHINE
  !define QORL_RUN_ROOT HKLM
!else
  !define QORL_RUN_ROOT HKCU
!endif

; Stops the server that runs from $INSTDIR in this session, as this user, with
; the setup's own QorlSend.exe (an installed one may be missing or older).
; Exit code 0: no server of this folder runs any more; anything else (1 still
; running, 3 another process answered the pipe, 4 it runs as another user):
; it will not stop. Then nothing is copied: interactive, Retry/Cancel;
; silent, the setup ends with exit code 2 and the old files stay.
!macro _QorlStopFunction UN
Function ${UN}QorlStop
  InitPluginsDir
  File "/oname=$PLUGINSDIR\QorlSend.exe" "${QORL_FILES}\QorlSend.exe"
  retry:
    DetailPrint "Stopping the QorlServer of $INSTDIR"
    nsExec::ExecToLog '"$PLUGINSDIR\QorlSend.exe" --stop 10 "$INSTDIR"'
    Pop $0
    StrCmp $0 0 0 +2
      Return
    DetailPrint "QorlSend --stop ended with $0: the server would not stop"
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "QorlServer in $INSTDIR would not stop (QorlSend --stop: $0).$\r$\n$\r$\nIf it runs as another user or in another session, stop it there (QorlSend --stop), then choose Retry. Nothing has been changed yet." \
      /SD IDCANCEL IDRETRY retry
  SetErrorLevel 2
  Abort "QorlServer in $INSTDIR would not stop; nothing was changed"
FunctionEnd
!macroend

; Users may write box.ini, that one file, under a folder only administrators
; may change (a per-machine install). By the well-known SID of Users, so it
; works in any language and on XP, whose cacls takes no SID. Sets $0 to 0 on
; success, else to the failing call's name and result.
!macro _QorlBoxIniFunction
Function QorlUsersMayWriteBoxIni
  ClearErrors
  FileOpen $1 "$INSTDIR\box.ini" a
  ${If} ${Errors}
    StrCpy $0 "creating box.ini failed"
    Return
  ${EndIf}
  FileClose $1
  System::Call 'advapi32::ConvertStringSidToSidW(w "S-1-5-32-545", *p .r1) i .r0'
  ${If} $0 == 0
    StrCpy $0 "ConvertStringSidToSidW failed"
    Return
  ${EndIf}
  ; SE_FILE_OBJECT 1, DACL_SECURITY_INFORMATION 4
  System::Call 'advapi32::GetNamedSecurityInfoW(w "$INSTDIR\box.ini", i 1, i 4, p 0, p 0, *p .r2, p 0, *p .r3) i .r0'
  ${If} $0 != 0
    System::Call 'kernel32::LocalFree(p r1)'
    StrCpy $0 "GetNamedSecurityInfoW: $0"
    Return
  ${EndIf}
  ; EXPLICIT_ACCESS_W: read and write (FILE_GENERIC_READ|FILE_GENERIC_WRITE),
  ; GRANT_ACCESS, no inheritance; TRUSTEE_IS_SID, TRUSTEE_IS_WELL_KNOWN_GROUP.
  ; The padding of the 64-bit layout is spelled out: System packs structures.
  !if ${NSIS_PTR_SIZE} > 4
    System::Call '*(i 0x12019F, i 1, i 0, i 0, p 0, i 0, i 0, i 5, i 0, p r1) p .r4'
  !else
    System::Call '*(i 0x12019F, i 1, i 0, p 0, i 0, i 0, i 5, p r1) p .r4'
  !endif
  System::Call 'advapi32::SetEntriesInAclW(i 1, p r4, p r2, *p .r5) i .r0'
  ${If} $0 == 0
    System::Call 'advapi32::SetNamedSecurityInfoW(w "$INSTDIR\box.ini", i 1, i 4, p 0, p 0, p r5, p 0) i .r0'
    System::Call 'kernel32::LocalFree(p r5)'
    ${If} $0 != 0
      StrCpy $0 "SetNamedSecurityInfoW: $0"
    ${EndIf}
  ${Else}
    StrCpy $0 "SetEntriesInAclW: $0"
  ${EndIf}
  System::Free $4
  System::Call 'kernel32::LocalFree(p r3)'
  System::Call 'kernel32::LocalFree(p r1)'
FunctionEnd
!macroend

!macro QorlFunctions
  !insertmacro _QorlStopFunction ""
  !insertmacro _QorlStopFunction "un."
  !ifdef QORL_PER_MACHINE
    !insertmacro _QorlBoxIniFunction
  !endif
!macroend

!macro QorlStop
  Call QorlStop
!macroend
!macro QorlUnStop
  Call un.QorlStop
!macroend

; The server first: it is the file a server of another session may still
; hold. A file that cannot be written stops the setup (silent: NSIS ignores
; the error and goes on, so check it).
!macro QorlInstallFiles
  SetOutPath $INSTDIR
  ClearErrors
  File "${QORL_FILES}\QorlServer.exe"
  File "${QORL_FILES}\QorlSend.exe"
  File "${QORL_FILES}\install.md"
  File "${QORL_FILES}\support.md"
  File "${QORL_FILES}\support.zh-CN.md"
  File "${QORL_FILES}\LICENSE"
  File "${QORL_FILES}\THIRD-PARTY-NOTICES.txt"
  ${If} ${Errors}
    SetErrorLevel 2
    Abort "A file of QorlServer in $INSTDIR could not be written (in use by another session's server?)"
  ${EndIf}
!macroend

!macro _QorlRegView
  !ifdef QORL_PER_MACHINE
    !ifdef QORL_AMD64
      SetRegView 64
    !else
      SetRegView 32    ; a 32-bit server: WOW6432Node on 64-bit Windows
    !endif
  !endif
!macroend

!macro QorlRegisterStart
  !insertmacro _QorlRegView
  WriteRegStr ${QORL_RUN_ROOT} "${QORL_RUN_KEY}" "${QORL_RUN_VALUE}" '"$INSTDIR\QorlServer.exe"'
  SetRegView default
!macroend

; As the user running the setup: right for a per-user setup. A per-machine
; setup runs elevated, so there the server is started by the shell instead
; (QorlStartServerAsShellUser).
!macro QorlStartServer
  SetOutPath $INSTDIR
  Exec '"$INSTDIR\QorlServer.exe"'
!macroend

; Vista and later: explorer.exe started elevated hands the file to the
; running shell, which starts it as the logged-on user, not elevated. XP has
; no elevation: the setup runs as the logged-on user, so start it directly.
!macro QorlStartServerAsShellUser
  SetOutPath $INSTDIR
  ClearErrors
  ${If} ${AtLeastWinVista}
    Exec '"$WINDIR\explorer.exe" "$INSTDIR\QorlServer.exe"'
  ${Else}
    Exec '"$INSTDIR\QorlServer.exe"'
  ${EndIf}
  ${If} ${Errors}
    DetailPrint "QorlServer could not be started; it starts at the next logon"
  ${EndIf}
!macroend

; Only what this install put there, and the box.ini its server wrote.
!macro QorlRemove
  Delete "$INSTDIR\QorlServer.exe"
  Delete "$INSTDIR\QorlSend.exe"
  Delete "$INSTDIR\install.md"
  Delete "$INSTDIR\support.md"
  Delete "$INSTDIR\support.zh-CN.md"
  Delete "$INSTDIR\LICENSE"
  Delete "$INSTDIR\THIRD-PARTY-NOTICES.txt"
  Delete "$INSTDIR\box.ini"
  !insertmacro _QorlRegView
  DeleteRegValue ${QORL_RUN_ROOT} "${QORL_RUN_KEY}" "${QORL_RUN_VALUE}"
  SetRegView default
!macroend
