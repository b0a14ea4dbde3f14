#!/usr/bin/env python3
"""The validation rules (ICEs) that matter to a package installed per user
(files under LocalAppData, values under HKCU) or per machine (Program Files,
HKLM), checked on the tables `msiinfo export` gives.

    msi_rules.py PACKAGE.msi

Prints "ok   ICEnn ..." or "FAIL ICEnn ..." for each rule; exit 1 on a failure.
"""
import re
import subprocess
import sys

# Folders in the user's profile (ICE38, ICE64) and those that stay the
# installing user's whatever ALLUSERS says (ICE91).
PROFILE = {"AppDataFolder", "LocalAppDataFolder", "DesktopFolder", "FavoritesFolder", "NetHoodFolder",
           "PersonalFolder", "PrintHoodFolder", "ProgramMenuFolder", "RecentFolder", "SendToFolder",
           "StartMenuFolder", "StartupFolder", "TemplateFolder", "MyPicturesFolder"}
PER_USER_ONLY = {"AppDataFolder", "FavoritesFolder", "NetHoodFolder", "PersonalFolder", "PrintHoodFolder",
                 "RecentFolder", "SendToFolder", "MyPicturesFolder", "LocalAppDataFolder"}
# Folders a per-user installation may not write to (ICE105).
MACHINE_FOLDERS = {"AdminToolsFolder", "CommonAppDataFolder", "FontsFolder", "System16Folder", "System64Folder",
                   "SystemFolder", "TempFolder", "WindowsFolder", "WindowsVolume"}
FOLDERS_32 = {"ProgramFilesFolder", "CommonFilesFolder", "SystemFolder"}
FOLDERS_64 = {"ProgramFiles64Folder", "CommonFiles64Folder", "System64Folder"}
# Template platform: the smallest schema (page count) it needs (ICE80).
PLATFORM_SCHEMA = {"Intel64": 150, "x64": 200, "Arm64": 500}

COMPONENT_64BIT, COMPONENT_REGISTRY_KEY_PATH = 0x100, 0x4
ACTION_NO_IMPERSONATE, ACTION_64BIT_SCRIPT = 0x800, 0x1000
UPGRADE_ONLY_DETECT, UPGRADE_MIN_INCLUSIVE, UPGRADE_MAX_INCLUSIVE = 0x2, 0x100, 0x200
ACTION_CONTINUE, ACTION_TYPE_MASK, ACTION_SET_PROPERTY, ACTION_DLL_FROM_BINARY = 0x40, 0x3F, 51, 1
HKMU, HKCU, HKLM = -1, 1, 2
WORDCOUNT_NO_ELEVATION = 0x8


class Note(str):
    """Said beside the rule's result, not a fault."""


class Package:
    def __init__(self, path):
        self.path = path
        self.names = set(self.msiinfo("tables").split())
        self.property = {r["Property"]: r["Value"] for r in self.table("Property")}
        self.summary = {int(r["PropertyId"]): r["Value"] for r in self.table("_SummaryInformation")}
        self.parent = {r["Directory"]: r["Directory_Parent"] for r in self.table("Directory")}
        self.components = self.table("Component")
        self.actions = {r["Action"]: r for r in self.table("CustomAction")}
        self.execute = {r["Action"]: r for r in self.table("InstallExecuteSequence")}

    def msiinfo(self, command, *args):
        return subprocess.run(["msiinfo", command, self.path, *args], capture_output=True, text=True,
                              check=True).stdout

    def table(self, name):
        """The rows as dictionaries by column name; none when the table is missing."""
        if name not in self.names:
            return []
        lines = self.msiinfo("export", name).replace("\r", "").split("\n")
        columns = lines[0].split("\t")
        return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]

    def ancestors(self, directory):
        """The directory and every folder above it."""
        seen = []
        while directory and directory not in seen:
            seen.append(directory)
            directory = self.parent.get(directory, "")
        return set(seen)


def version(text):
    fields = text.split(".")
    limits = (255, 255, 65535, 65535)
    if not re.fullmatch(r"\d+(\.\d+){0,3}", text) or any(int(f) > m for f, m in zip(fields, limits)):
        return None
    return tuple(int(f) for f in fields[:3]) + (0,) * (3 - len(fields[:3]))  # the fourth field is ignored


def ice38(p):
    """Components in the user's profile keep an HKCU registry value as key path.

    HKMU counts: per user, where the profile is the folder, it is HKCU."""
    hkcu = {r["Registry"] for r in p.table("Registry") if int(r["Root"]) in (HKCU, HKMU)}
    for c in p.components:
        if p.ancestors(c["Directory_"]) & PROFILE and not (int(c["Attributes"]) & COMPONENT_REGISTRY_KEY_PATH
                                                            and c["KeyPath"] in hkcu):
            yield f"component {c['Component']} is in the user's profile but keys on {c['KeyPath'] or 'nothing'}"


def ice61(p):
    """Upgrade rows never remove a newer version.

    Their properties are public, secured and unique, their versions valid. An
    equal version is removed on purpose (a rebuild, or the other
    architecture's package): allowed, and said."""
    secure = set(p.property.get("SecureCustomProperties", "").split(";"))
    own = version(p.property.get("ProductVersion", ""))
    seen = set()
    for r in p.table("Upgrade"):
        prop, attributes = r["ActionProperty"], int(r["Attributes"])
        if prop in p.property or prop != prop.upper() or prop not in secure or prop in seen:
            yield f"{prop}: authored, lower case, unsecured or used twice"
        seen.add(prop)
        low, high = (version(r[k]) if r[k] else () for k in ("VersionMin", "VersionMax"))
        if None in (low, high) or (low and high and high < low):
            yield f"{prop}: versions '{r['VersionMin']}' to '{r['VersionMax']}'"
            continue
        if attributes & UPGRADE_ONLY_DETECT or r["UpgradeCode"] != p.property.get("UpgradeCode"):
            continue
        newer = not high or high > own or (low and (low > own or (low == own and attributes & UPGRADE_MIN_INCLUSIVE)))
        if newer:
            yield f"{prop}: removes a newer version than {p.property['ProductVersion']}"
        elif high == own and attributes & UPGRADE_MAX_INCLUSIVE:
            yield Note(f"{prop} removes the same version on purpose")


def ice64(p):
    """Folders the package makes in the user's profile are in RemoveFile."""
    removed = {r["DirProperty"] for r in p.table("RemoveFile")}
    for d in p.parent:
        if d not in PROFILE and p.ancestors(d) & PROFILE and d not in removed:
            yield f"folder {d} is in the user's profile but not in RemoveFile"


def ice80(p):
    """The template fits the components: platform, schema, language, bitness.

    64-bit components need a 64-bit platform and its schema (page count); the
    product's language is the template's; no component sits in a folder of
    the other bitness."""
    platform, _, languages = p.summary.get(7, "").partition(";")
    has_64 = any(int(c["Attributes"]) & COMPONENT_64BIT for c in p.components) or any(
        int(a["Type"]) & ACTION_64BIT_SCRIPT for a in p.table("CustomAction"))
    if has_64 and platform not in PLATFORM_SCHEMA:
        yield f"64-bit components, template platform '{platform}'"
    if int(p.summary.get(14, 0)) < PLATFORM_SCHEMA.get(platform, 0):
        yield f"template {platform} with schema {p.summary.get(14)}"
    if p.property.get("ProductLanguage") not in languages.split(","):
        yield f"ProductLanguage {p.property.get('ProductLanguage')} not in the template's '{languages}'"
    for c in p.components:
        wrong = FOLDERS_32 if int(c["Attributes"]) & COMPONENT_64BIT else FOLDERS_64
        if p.ancestors(c["Directory_"]) & wrong:
            yield f"component {c['Component']} in a folder of the other bitness"


def ice57(p):
    """No registry value is fixed to the installing user.

    Per machine a row under HKCU would be one user's beside every user's
    files: each row follows the installation (HKMU)."""
    for r in p.table("Registry"):
        if int(r["Root"]) == HKCU:
            yield f"registry {r['Registry']} under HKCU"


def ice91(p):
    """Files in folders that stay one user's move to Program Files per machine.

    A custom action that sets a folder above them to a Program Files folder
    runs in the installation's sequence."""
    moved = {a["Source"] for name, a in p.actions.items()
             if int(a["Type"]) & ACTION_TYPE_MASK == ACTION_SET_PROPERTY and name in p.execute
             and re.match(r"\[ProgramFiles(64)?Folder\]", a["Target"])}
    directory = {c["Component"]: c["Directory_"] for c in p.components}
    for f in p.table("File"):
        folders = p.ancestors(directory[f["Component_"]])
        if folders & PER_USER_ONLY and not folders & moved:
            yield f"file {f['File']} stays one user's per machine too"


def shell(p):
    """Explorer is told after the installation is committed, never failing it.

    The notification runs after InstallFinalize and its result is ignored."""
    notify = [a for a in p.actions.values() if int(a["Type"]) & ACTION_TYPE_MASK == ACTION_DLL_FROM_BINARY]
    if not notify:
        yield "no custom action from the Binary table tells the shell"
    finalize = int(p.execute["InstallFinalize"]["Sequence"])
    for a in notify:
        step = p.execute.get(a["Action"])
        if not step or int(step["Sequence"]) <= finalize or step["Condition"]:
            yield f"{a['Action']} is not run unconditionally after InstallFinalize"
        if not int(a["Type"]) & ACTION_CONTINUE:
            yield f"{a['Action']}'s result is not ignored"


def context(p):
    """Either context, the user's by default, and the machine's with the rights it needs.

    ALLUSERS=2 with MSIINSTALLPERUSER=1 (a dual-purpose package), and no
    "elevated privileges not required" bit in the word count, which would
    keep a per-machine installation from asking for them."""
    for name, value in (("ALLUSERS", "2"), ("MSIINSTALLPERUSER", "1")):
        if p.property.get(name) != value:
            yield f"{name} is '{p.property.get(name, '')}', not {value}"
    if int(p.summary.get(15, 0)) & WORDCOUNT_NO_ELEVATION:
        yield "the word count says elevated privileges are never required"


def ice105(p):
    """Nothing a per-user installation cannot do.

    No elevated custom actions, machine folders, global assembly cache, data
    sources, services, or HKLM values."""
    for a in p.table("CustomAction"):
        if int(a["Type"]) & ACTION_NO_IMPERSONATE:
            yield f"custom action {a['Action']} asks to run elevated (no impersonation)"
    for d in sorted(p.parent.keys() & MACHINE_FOLDERS):
        yield f"folder {d}"
    for a in p.table("MsiAssembly"):
        if not a.get("File_Application"):
            yield f"assembly {a['Component_']} into the global cache"
    for table in ("ODBCDataSource", "ServiceInstall"):
        for _ in p.table(table):
            yield f"a {table} row"
    for r in p.table("Registry"):
        if int(r["Root"]) == HKLM:
            yield f"registry {r['Registry']} under HKLM"


RULES = [("ICE38", ice38), ("ICE57", ice57), ("ICE61", ice61), ("ICE64", ice64), ("ICE80", ice80),
         ("ICE91", ice91), ("ICE105", ice105), ("SHELL", shell), ("CONTEXT", context)]


def main(path):
    package = Package(path)
    failed = 0
    for name, rule in RULES:
        said = list(rule(package))
        faults = [s for s in said if not isinstance(s, Note)]
        print(f"{'FAIL' if faults else 'ok  '} {name}: {rule.__doc__.splitlines()[0]}")
        for line in said:
            print(f"     {name}: {line}")
        failed += bool(faults)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]) if len(sys.argv) == 2 else 2)
