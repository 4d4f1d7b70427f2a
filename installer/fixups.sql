-- What wixl 0.101 cannot express, applied by scripts/msi with msibuild, one
-- statement a line; @FILEVERSION@ is the programs' FILEVERSION (the CMake
-- project's version, .0). installer/_Validation.idt is imported after it.
--
-- Windows Installer 2.0 tables and columns only: wixl's empty tables go
-- (Shortcut has columns of Installer 4.0), MsiFileHash too (wixl hashes the
-- versioned programs as well, which the table is not for; the unversioned
-- guides are then replaced by the rule for unversioned files, only while
-- nobody has changed them), and the CustomAction table is made again
-- without ExtendedType (Installer 4.5).
DROP TABLE `Shortcut`
DROP TABLE `ServiceInstall`
DROP TABLE `ServiceControl`
DROP TABLE `Signature`
DROP TABLE `Error`
DROP TABLE `CreateFolder`
DROP TABLE `MsiFileHash`
DROP TABLE `CustomAction`
CREATE TABLE `CustomAction` (`Action` CHAR(72) NOT NULL, `Type` INT NOT NULL, `Source` CHAR(72), `Target` CHAR(255) LOCALIZABLE PRIMARY KEY `Action`)
--
-- Type 51: an upgrade keeps the installed version's folder unless
-- INSTALLDIR is given; before CostFinalize, as a folder's property must be.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('KeepInstallDir', 51, 'INSTALLDIR', '[QORL_KEPT_DIR]')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('KeepInstallDir', 'QORL_KEPT_DIR AND NOT INSTALLDIR', 990)
INSERT INTO `InstallUISequence` (`Action`, `Condition`, `Sequence`) VALUES ('KeepInstallDir', 'QORL_KEPT_DIR AND NOT INSTALLDIR', 990)
-- Stop the running server before any file is checked, replaced or removed:
-- the package's own QorlStop.dll (type 1, a DLL in the Binary table), so it
-- needs no installed copy; +64: its result is not checked, so a server that
-- will not stop leaves it to Windows Installer's own files-in-use handling
-- instead of failing the install. It logs what it did.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('StopServer', 65, 'QorlStop', 'StopServer')
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('StopServer', 1390)
-- The old version goes inside this install's transaction: right after
-- InstallInitialize, before any new file comes in, so that a failed or
-- cancelled upgrade rolls its removal back.
UPDATE `InstallExecuteSequence` SET `Sequence` = 1501 WHERE `Action` = 'RemoveExistingProducts'
-- For the installing user, in the background (210 = 18, a program the
-- package installs, + 192, not waited for): the server never ends by itself.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`) VALUES ('StartServer', 210, 'QorlServerExe')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('StartServer', 'NOT (REMOVE~="ALL") AND QORL_START<>"0"', 6610)
-- A failed (-3) or cancelled (-2) install, rolled back, starts the
-- installed version's server again from the folder the rollback restored:
-- 242 = 50, the program a property names, + 192. In both sequences, as
-- Windows Installer takes the exit actions from InstallUISequence at full
-- and reduced UI and from InstallExecuteSequence at basic UI or none; the
-- server's mutex ends a second start at once. The program is in OldServer,
-- private, set in each sequence from the registry alone: QORL_KEPT_DIR is
-- cleared (whatever a command line said) before the first AppSearch reads
-- it, the UI sequence's at full and reduced UI (UILevel 5, 4), else the
-- execute sequence's, and {...} leaves OldServer empty when no version is
-- installed, so that nothing is started. (Wine runs AppSearch once and
-- shares one set of properties between the sequences, so a second clearing
-- would empty it.)
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`) VALUES ('ForgetKeptDir', 51, 'QORL_KEPT_DIR')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('FindOldServer', 51, 'OldServer', '{[QORL_KEPT_DIR]QorlServer.exe}')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`) VALUES ('RestartOnFailure', 242, 'OldServer')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`) VALUES ('RestartOnCancel', 242, 'OldServer')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('ForgetKeptDir', 'UILevel < 4', 20)
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('FindOldServer', 51)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RestartOnFailure', 'OldServer', -3)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RestartOnCancel', 'OldServer', -2)
INSERT INTO `InstallUISequence` (`Action`, `Sequence`) VALUES ('ForgetKeptDir', 20)
INSERT INTO `InstallUISequence` (`Action`, `Sequence`) VALUES ('FindOldServer', 51)
INSERT INTO `InstallUISequence` (`Action`, `Condition`, `Sequence`) VALUES ('RestartOnFailure', 'OldServer', -3)
INSERT INTO `InstallUISequence` (`Action`, `Condition`, `Sequence`) VALUES ('RestartOnCancel', 'OldServer', -2)
--
-- Per user only: ALLUSERS comes through to the install only if it is
-- secure, and then the launch condition refuses it.
UPDATE `Property` SET `Value` = 'ALLUSERS;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' WHERE `Property` = 'SecureCustomProperties'
-- Versioned programs and unversioned texts, with a valid, unique short
-- name each.
UPDATE `File` SET `FileName` = 'QORLSERV.EXE|QorlServer.exe', `Version` = '@FILEVERSION@', `Language` = '2052' WHERE `File` = 'QorlServerExe'
UPDATE `File` SET `FileName` = 'QORLSEND.EXE|QorlSend.exe', `Version` = '@FILEVERSION@', `Language` = '1033' WHERE `File` = 'QorlSendExe'
UPDATE `File` SET `FileName` = 'INSTALL.MD|install.md' WHERE `File` = 'InstallMd'
UPDATE `File` SET `FileName` = 'SUPPORT.MD|support.md' WHERE `File` = 'SupportMd'
UPDATE `File` SET `FileName` = 'SUPPZHCN.MD|support.zh-CN.md' WHERE `File` = 'SupportZhMd'
UPDATE `File` SET `FileName` = 'LICENSE' WHERE `File` = 'LicenseTxt'
UPDATE `File` SET `FileName` = 'THIRDPTY.TXT|THIRD-PARTY-NOTICES.txt' WHERE `File` = 'NoticesTxt'
-- At removal: the report the server wrote, and each folder the package made
-- in the profile once it is empty.
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('BoxIni', 'Server', 'box.ini', 'INSTALLDIR', 2)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `DirProperty`, `InstallMode`) VALUES ('InstallFolder', 'Server', 'INSTALLDIR', 2)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `DirProperty`, `InstallMode`) VALUES ('ProgramsFolder', 'Server', 'ProgramsDir', 2)
