; QorlPackage.nsh: chaining the QorlServer package (QorlServer-<version>-win32.msi)
; from a maker's NSIS setup that runs as the user the server is for
; (RequestExecutionLevel user): the package installs per user, for whoever
; runs it, and starts the server as that account.
;
;   !insertmacro QorlPackageFind                 $0 the installed product code ("" none), $1 its version
;   !insertmacro QorlPackageInstall MSI VERSION  $0 msiexec's exit code (or 1603 unrun), $1 what it means
;   !insertmacro QorlPackageRemove               $0 msiexec's exit code ("" when not installed)
;
; The package is one product per user, whichever suite installed it:
; removing it removes it for every suite of that user. Each suite that
; chains it records itself as a value under QORL_PACKAGE_USERS and removes
; the package only when no other suite is recorded there.
!include LogicLib.nsh
!include WordFunc.nsh

!define QORL_UPGRADE_CODE "{7D3F2A91-5C4E-4B6A-9E07-1A2B3C4D5E6F}"
!define QORL_PACKAGE_USERS "Software\Qorl\Suites"

!macro QorlPackageFind
  ; 0: found; ERROR_NO_MORE_ITEMS (259): none installed
  System::Call 'msi::MsiEnumRelatedProductsW(w "${QORL_UPGRADE_CODE}", i 0, i 0, w .r0) i .r2'
  StrCpy $1 ""
  ${If} $2 == 0
    System::Call 'msi::MsiGetProductInfoW(w r0, w "VersionString", w .r1, *i ${NSIS_MAX_STRLEN}) i .r2'
  ${Else}
    StrCpy $0 ""
  ${EndIf}
!macroend

; A newer version installed is looked for first: msiexec's 1603 says the
; same for it as for a failed install.
!macro QorlPackageInstall MSI VERSION
  !insertmacro QorlPackageFind
  StrCpy $2 2
  ${If} $1 != ""
    ${VersionCompare} $1 "${VERSION}" $2    ; 1: the installed one is newer
  ${EndIf}
  ${If} $2 == 1
    StrCpy $0 1603
    StrCpy $1 "QorlServer $1, newer than ${VERSION}, is installed: kept"
  ${Else}
    ExecWait '"$SYSDIR\msiexec.exe" /i "${MSI}" /qn /l*v "$TEMP\QorlServer-install.log"' $0
    ${Select} $0
      ${Case} 0
        StrCpy $1 "installed"
      ${Case} 1638
        StrCpy $1 "another build of version ${VERSION} is installed: kept"
      ${Case} 3010
        StrCpy $1 "installed; a file in use is replaced at the next restart"
        SetRebootFlag true
      ${Case} 1602
        StrCpy $1 "cancelled by the user"
      ${Case} 1618
        StrCpy $1 "another installation is running: try again when it has finished"
      ${CaseElse}
        StrCpy $1 "failed and rolled back ($TEMP\QorlServer-install.log)"
    ${EndSelect}
  ${EndIf}
  DetailPrint "QorlServer package: $0, $1"
!macroend

!macro QorlPackageRemove
  !insertmacro QorlPackageFind
  ${If} $0 != ""
    ExecWait '"$SYSDIR\msiexec.exe" /x $0 /qn' $0
  ${EndIf}
!macroend
