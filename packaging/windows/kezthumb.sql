# What wixl cannot write: scripts/package-windows runs each line below on the
# package it built (msibuild -q), with ${VERSION}, ${FILE_VERSION},
# ${UPGRADE_CODE}, ${BUILD} and ${BUILD_SHORT} filled in.

# The programs carry the project's version; without it in the File table,
# Windows Installer would treat them as unversioned files. Versioned files are
# compared by version, so their hash rows go.
UPDATE `File` SET `Version` = '${FILE_VERSION}', `Language` = '1033'
DELETE FROM `MsiFileHash` WHERE `File_` = 'kezthumb.dll'
DELETE FROM `MsiFileHash` WHERE `File_` = 'kezthumb.exe'
# wixl adds the no-impersonation flag, which is for deferred actions and would
# need elevation: plain type 51 (the actions that set a property), and 65 for
# the shell's notification (a DLL from the Binary table, its result ignored).
UPDATE `CustomAction` SET `Type` = 51 WHERE `Action` <> 'NotifyShell'
UPDATE `CustomAction` SET `Type` = 65 WHERE `Action` = 'NotifyShell'
# A package for either context (wixl writes ALLUSERS as 1 for perMachine).
UPDATE `Property` SET `Value` = '2' WHERE `Property` = 'ALLUSERS'
# Every registry row under the user's keys or the machine's, as the
# installation is (root -1; wixl writes HKMU as 4, which is no root).
UPDATE `Registry` SET `Root` = -1
# The build's folder: its long name, and an 8.3 one for the volumes that want it.
UPDATE `Directory` SET `DefaultDir` = '${BUILD_SHORT}|${BUILD}' WHERE `Directory` = 'BUILDDIR'

# The upper bound includes this version (1 + 512, VersionMaxInclusive): every
# build is a product of its own, and a rebuild of this version, or this
# version's package for the other architecture, must replace the installed one
# rather than sit beside it (two products writing the same class). Validation
# (ICE61) flags a row that removes an equal version; here it is meant, and a
# newer version is never removed (the downgrade row stops that install).
# Attributes is part of the row's key: the row is written anew.
DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'
INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) VALUES ('{${UPGRADE_CODE}}', '${VERSION}', 513, 'WIX_UPGRADE_DETECTED')
# The old product goes inside this installation's transaction (right after
# InstallInitialize), so a failure puts it back rather than leaving neither.
UPDATE `InstallExecuteSequence` SET `Sequence` = 1501 WHERE `Action` = 'RemoveExistingProducts'

# The folders go when empty: the programs' folder with the product, and what
# an old DLL held in use left of the build before the one replaced.
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `DirProperty`, `InstallMode`) VALUES ('RemoveInstallDir', 'ProgramsFolder', 'INSTALLDIR', 2)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('RemoveStaleDll', 'ProgramsFolder', 'kezthumb.dll', 'STALEBUILDDIR', 3)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('RemoveStaleExe', 'ProgramsFolder', 'kezthumb.exe', 'STALEBUILDDIR', 3)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `DirProperty`, `InstallMode`) VALUES ('RemoveStaleDir', 'ProgramsFolder', 'STALEBUILDDIR', 3)
