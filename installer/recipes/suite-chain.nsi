; An example suite setup that chains the QorlServer package, with QorlPackage.nsh:
;   makensis -DQORL_PACKAGE=<QorlServer-x.y.z-win32.msi> -DQORL_PACKAGE_VERSION=<x.y.z> -DOUTFILE=<setup.exe> suite-chain.nsi
; Per user, like the package. Exit code: msiexec's (1603 also when a newer
; package is installed, left as it is).
Unicode true
Target x86-unicode
!ifndef QORL_PACKAGE | QORL_PACKAGE_VERSION | OUTFILE
  !error "define QORL_PACKAGE, QORL_PACKAGE_VERSION and OUTFILE"
!endif
!define SUITE_NAME "Qorl Chained Suite"
!include "QorlPackage.nsh"

Name "${SUITE_NAME}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${SUITE_NAME}"
Page instfiles

Section "Install"
  InitPluginsDir
  File "/oname=$PLUGINSDIR\QorlServer.msi" "${QORL_PACKAGE}"
  !insertmacro QorlPackageInstall "$PLUGINSDIR\QorlServer.msi" "${QORL_PACKAGE_VERSION}"
  ${If} $0 != 0
  ${AndIf} $0 != 3010
  ${AndIf} $0 != 1638
    SetErrorLevel $0
    Abort "QorlServer: $1"
  ${EndIf}
  WriteRegStr HKCU "${QORL_PACKAGE_USERS}" "${SUITE_NAME}" "$INSTDIR"
  SetOutPath $INSTDIR
  WriteUninstaller "$INSTDIR\Uninstall.exe"
SectionEnd

Section "Uninstall"
  ; The package goes with the last suite that chained it.
  DeleteRegValue HKCU "${QORL_PACKAGE_USERS}" "${SUITE_NAME}"
  EnumRegValue $0 HKCU "${QORL_PACKAGE_USERS}" 0
  ${If} $0 == ""
    !insertmacro QorlPackageRemove
  ${Else}
    DetailPrint "QorlServer package kept: the suite $0 uses it too"
  ${EndIf}
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
