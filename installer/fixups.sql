-- What wixl 0.101 cannot express, applied by scripts/msi with msibuild, one
-- statement a line.
--
-- Stop the running server before any file is checked, replaced or removed:
-- the package's own QorlSend (Binary table, type 2), so it needs no
-- installed copy and no working directory; +64: its exit code is not
-- checked, so a server that will not stop leaves it to Windows Installer's
-- own files-in-use handling instead of failing the install.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('StopServer', 66, 'QorlSendStop', '--stop')
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('StopServer', 1390)
-- The old version goes before the new files come in (wixl puts it after
-- InstallFinalize, where it would stop the server just started).
UPDATE `InstallExecuteSequence` SET `Sequence` = 1401 WHERE `Action` = 'RemoveExistingProducts'
-- At removal: the report the server wrote, and the folder once it is empty.
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('BoxIni', 'Server', 'box.ini', 'INSTALLDIR', 2)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `DirProperty`, `InstallMode`) VALUES ('InstallFolder', 'Server', 'INSTALLDIR', 2)
