; An example suite setup for one user, with QorlServer.iss:
;   ISCC /DQorlFiles=<folder> /DSuiteVersion=<x.y.z> /O<output folder> /F<setup name> suite-per-user.iss
; <folder> holds the release zip's files and the suite's QorlBox.exe.
; /VERYSILENT /SUPPRESSMSGBOXES installs silently, /DIR= chooses
; the folder; unins000.exe /VERYSILENT removes it.
#ifndef QorlFiles
  #error Define QorlFiles, SuiteVersion
#endif
#define QorlSuite "Qorl Label Suite"
#include "QorlServer.iss"

[Setup]
AppId=Qorl Label Suite
AppName=Qorl Label Suite
AppVersion={#SuiteVersion}
AppPublisher=Printer maker
PrivilegesRequired=lowest
; What {userpf} means; Wine cannot expand {userpf} itself.
DefaultDirName={localappdata}\Programs\Qorl Label Suite
DisableProgramGroupPage=yes
CloseApplications=no
OutputBaseFilename=suite-per-user-{#SuiteVersion}

[Files]
; The suite's own status box.
Source: "{#QorlFiles}\QorlBox.exe"; DestDir: "{app}"; Flags: ignoreversion

[Code]
function PrepareToInstall(var NeedsRestart: Boolean): String;
begin
  Result := QorlPrepareToInstall();
end;

function InitializeUninstall(): Boolean;
begin
  Result := QorlInitializeUninstall();
end;
