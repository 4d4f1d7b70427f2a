; An example suite setup for one user, with QorlServer.nsh:
;   makensis -DQORL_FILES=<folder> -DSUITE_VERSION=<x.y.z> -DOUTFILE=<setup.exe> [-DQORL_AMD64] suite-per-user.nsi
; <folder> holds the release zip's files and the suite's QorlBox.exe.
; No administrator rights; /S installs silently, /D=<folder>
; (last, unquoted) chooses the folder; Uninstall.exe /S removes it.
Unicode true
!ifdef QORL_AMD64
  Target amd64-unicode
!else
  Target x86-unicode    ; what ships: Windows XP and later
!endif
!ifndef QORL_FILES | SUITE_VERSION | OUTFILE
  !error "define QORL_FILES, SUITE_VERSION and OUTFILE"
!endif

!define SUITE_NAME "Qorl Label Suite"
!define SUITE_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${SUITE_NAME}"
!define QORL_SUITE "${SUITE_NAME}"
!include "QorlServer.nsh"

Name "${SUITE_NAME} ${SUITE_VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
; %LOCALAPPDATA% (XP: Local Settings\Application Data); an upgrade keeps the folder.
InstallDir "$LOCALAPPDATA\Programs\${SUITE_NAME}"
InstallDirRegKey HKCU "${SUITE_KEY}" "InstallLocation"
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!insertmacro QorlFunctions

Section "Install"
  !insertmacro QorlStop
  !insertmacro QorlInstallFiles
  ; The suite's own files: its status box.
  File "${QORL_FILES}\QorlBox.exe"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKCU "${SUITE_KEY}" "DisplayName" "${SUITE_NAME}"
  WriteRegStr HKCU "${SUITE_KEY}" "DisplayVersion" "${SUITE_VERSION}"
  WriteRegStr HKCU "${SUITE_KEY}" "Publisher" "Printer maker"
  WriteRegStr HKCU "${SUITE_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${SUITE_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${SUITE_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${SUITE_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${SUITE_KEY}" "NoRepair" 1
  !insertmacro QorlRegisterStart
  !insertmacro QorlStartServer
SectionEnd

Section "Uninstall"
  !insertmacro QorlUnStop
  !insertmacro QorlRemove
  Delete "$INSTDIR\QorlBox.exe"
  DeleteRegKey HKCU "${SUITE_KEY}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
