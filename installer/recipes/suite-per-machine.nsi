; An example suite setup for every user of the machine, with QorlServer.nsh:
;   makensis -DQORL_FILES=<folder> -DSUITE_VERSION=<x.y.z> -DOUTFILE=<setup.exe> [-DQORL_AMD64] suite-per-machine.nsi
; Program Files, which only administrators change; the Run value under HKLM,
; in the registry view of the server's bitness; box.ini the one file users
; may write; the server started as the logged-on user, not elevated.
Unicode true
!ifdef QORL_AMD64
  Target amd64-unicode
!else
  Target x86-unicode
!endif
!ifndef QORL_FILES | SUITE_VERSION | OUTFILE
  !error "define QORL_FILES, SUITE_VERSION and OUTFILE"
!endif

!define SUITE_NAME "Qorl Label Suite"
!define SUITE_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${SUITE_NAME}"
!define QORL_SUITE "${SUITE_NAME}"
!define QORL_PER_MACHINE
!include "QorlServer.nsh"

Name "${SUITE_NAME} ${SUITE_VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
!ifdef QORL_AMD64
  InstallDir "$PROGRAMFILES64\${SUITE_NAME}"
!else
  InstallDir "$PROGRAMFILES32\${SUITE_NAME}"    ; Program Files (x86) on 64-bit Windows
!endif
InstallDirRegKey HKLM "${SUITE_KEY}" "InstallLocation"
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!insertmacro QorlFunctions

Function .onInit
  ; XP has no elevation prompt: a limited account must be refused here.
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP "${SUITE_NAME} installs for every user: run it as an administrator." /SD IDOK
    SetErrorLevel 740    ; ERROR_ELEVATION_REQUIRED
    Quit
  ${EndIf}
FunctionEnd

Section "Install"
  ; Only this session's server, when it runs as the account the setup runs
  ; as. A standard user's server, under another account's elevation, gives
  ; 4: QorlStop says so and offers to try again after stopping it there.
  !insertmacro QorlStop
  !insertmacro QorlInstallFiles
  File "${QORL_FILES}\QorlBox.exe"
  Call QorlUsersMayWriteBoxIni
  ${If} $0 != 0
    SetErrorLevel 2
    Abort "Users could not be allowed to write box.ini ($0)"
  ${EndIf}
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${SUITE_KEY}" "DisplayName" "${SUITE_NAME}"
  WriteRegStr HKLM "${SUITE_KEY}" "DisplayVersion" "${SUITE_VERSION}"
  WriteRegStr HKLM "${SUITE_KEY}" "Publisher" "Printer maker"
  WriteRegStr HKLM "${SUITE_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${SUITE_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${SUITE_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${SUITE_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${SUITE_KEY}" "NoRepair" 1
  !insertmacro QorlRegisterStart
  !insertmacro QorlStartServerAsShellUser
SectionEnd

Section "Uninstall"
  ; Other users' servers keep running from this folder until they log off:
  ; their files go at the next restart.
  !insertmacro QorlUnStop
  !insertmacro QorlRemove
  Delete /REBOOTOK "$INSTDIR\QorlServer.exe"
  Delete "$INSTDIR\QorlBox.exe"
  DeleteRegKey HKLM "${SUITE_KEY}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
SectionEnd
