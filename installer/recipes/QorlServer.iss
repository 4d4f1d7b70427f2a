; QorlServer.iss: QorlServer in a printer maker's own Inno Setup 6 script,
; installing for the user who runs it (PrivilegesRequired=lowest). Inno
; Setup 6 makes no setup that runs on Windows XP: for XP, use QorlServer.nsh.
;
; #define before including:
;   QorlSuite  the suite's name; the Run value is "QorlServer-<QorlSuite>",
;              so that no install removes another's start at logon
;   QorlFiles  the folder holding QorlServer.exe, QorlSend.exe, the guides,
;              LICENSE and THIRD-PARTY-NOTICES.txt (the release zip's files)
; and call QorlPrepareToInstall from the script's PrepareToInstall, and
; QorlInitializeUninstall from its InitializeUninstall. Set
; CloseApplications=no: Restart Manager would end the server without the stop.

#ifndef QorlSuite
  #error Define QorlSuite (the suite's name) before including QorlServer.iss
#endif
#ifndef QorlFiles
  #error Define QorlFiles (the folder with QorlServer.exe) before including QorlServer.iss
#endif

[Files]
; The server first: it is the file a server of another session may hold.
Source: "{#QorlFiles}\QorlServer.exe"; DestDir: "{app}"; Flags: ignoreversion
Source: "{#QorlFiles}\QorlSend.exe"; DestDir: "{app}"; Flags: ignoreversion
Source: "{#QorlFiles}\install.md"; DestDir: "{app}"; Flags: ignoreversion
Source: "{#QorlFiles}\support.md"; DestDir: "{app}"; Flags: ignoreversion
Source: "{#QorlFiles}\support.zh-CN.md"; DestDir: "{app}"; Flags: ignoreversion
Source: "{#QorlFiles}\LICENSE"; DestDir: "{app}"; Flags: ignoreversion
Source: "{#QorlFiles}\THIRD-PARTY-NOTICES.txt"; DestDir: "{app}"; Flags: ignoreversion

[Registry]
Root: HKCU; Subkey: "Software\Microsoft\Windows\CurrentVersion\Run"; ValueType: string; \
  ValueName: "QorlServer-{#QorlSuite}"; ValueData: """{app}\QorlServer.exe"""; Flags: uninsdeletevalue

[Run]
Filename: "{app}\QorlServer.exe"; WorkingDir: "{app}"; Flags: nowait

[UninstallDelete]
; What this install's server wrote.
Type: files; Name: "{app}\box.ini"

[Code]
// QorlSend --stop 10 FOLDER: 0, no server of that folder runs any more (go
// on); anything else (1 still running, 3 another process answered the pipe,
// 4 it runs as another user), it will not stop.
function QorlStopIn(const QorlSend: String): Boolean;
var
  Code: Integer;
  Message: String;
begin
  repeat
    if not Exec(QorlSend, '--stop 10 "' + ExpandConstant('{app}') + '"', '', SW_HIDE,
                ewWaitUntilTerminated, Code) then
      Code := -1;
    Result := Code = 0;
    if Result then
      Exit;
    Message := 'QorlServer in ' + ExpandConstant('{app}') + ' would not stop (QorlSend --stop: ' +
      IntToStr(Code) + ').' #13#10#13#10 'If it runs as another user or in another session, ' +
      'stop it there (QorlSend --stop), then choose Retry. Nothing has been changed.';
    Log(Message);
  until SuppressibleMsgBox(Message, mbError, MB_RETRYCANCEL, IDCANCEL) <> IDRETRY;
end;

// Before any file is copied, with the setup's own QorlSend.exe. A non-empty
// result ends the setup (silent: exit code 7), the old files in place.
function QorlPrepareToInstall(): String;
begin
  Result := '';
  ExtractTemporaryFile('QorlSend.exe');
  if not QorlStopIn(ExpandConstant('{tmp}\QorlSend.exe')) then
    Result := 'QorlServer in ' + ExpandConstant('{app}') + ' would not stop; nothing was changed.';
end;

// The uninstaller has no files of the setup: it takes the installed copy,
// before anything is removed. False ends the removal, nothing removed.
function QorlInitializeUninstall(): Boolean;
begin
  Result := not FileExists(ExpandConstant('{app}\QorlSend.exe')) or
            QorlStopIn(ExpandConstant('{app}\QorlSend.exe'));
end;
