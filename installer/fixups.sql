-- What wixl 0.101 cannot express, applied by scripts/msi with msibuild, one
-- statement a line; @FILEVERSION@ is the programs' FILEVERSION (the CMake
-- project's version, .0). installer/_Validation.idt is imported after it.
--
-- Windows Installer 2.0 tables and columns only: wixl's empty tables go
-- (Shortcut has columns of Installer 4.0), MsiFileHash too (it is for
-- unversioned files, and both files have versions), and the CustomAction
-- table is made again without ExtendedType (Installer 4.5).
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
-- instead of failing the install. It logs what it did, and names the
-- stopped server in QORL_STOPPED_SERVER.
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
-- A failed (-3) or cancelled (-2) install, rolled back, starts the server it
-- stopped again: 242 = 50, the program a property names, + 192.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`) VALUES ('RestartOnFailure', 242, 'QORL_STOPPED_SERVER')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`) VALUES ('RestartOnCancel', 242, 'QORL_STOPPED_SERVER')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RestartOnFailure', 'QORL_STOPPED_SERVER', -3)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RestartOnCancel', 'QORL_STOPPED_SERVER', -2)
--
-- Per user only: ALLUSERS comes through to the install only if it is
-- secure, and then the launch condition refuses it.
UPDATE `Property` SET `Value` = 'ALLUSERS;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' WHERE `Property` = 'SecureCustomProperties'
-- Versioned files, with a valid, unique short name each.
UPDATE `File` SET `FileName` = 'QORLSERV.EXE|QorlServer.exe', `Version` = '@FILEVERSION@', `Language` = '2052' WHERE `File` = 'QorlServerExe'
UPDATE `File` SET `FileName` = 'QORLSEND.EXE|QorlSend.exe', `Version` = '@FILEVERSION@', `Language` = '1033' WHERE `File` = 'QorlSendExe'
-- At removal: the report the server wrote, and each folder the package made
-- in the profile once it is empty.
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('BoxIni', 'Server', 'box.ini', 'INSTALLDIR', 2)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `DirProperty`, `InstallMode`) VALUES ('InstallFolder', 'Server', 'INSTALLDIR', 2)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `DirProperty`, `InstallMode`) VALUES ('ProgramsFolder', 'Server', 'ProgramsDir', 2)
