"""The Windows setup program under wine: a silent install puts the program, its pictures, README
and LICENSE into Program Files, a Start-menu shortcut and a complete entry among the installed
programs; the installed game, started from another folder, shows its main menu with the pictures
installed beside it and ends from Exit; the entry's silent uninstall leaves no file, shortcut or
registry key behind.

Usage: test_installer.py SETUP.EXE --data DATA --text-mask /dev/null
"""

import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "window"))
# pylint: disable=wrong-import-position
import wine
from harness import MAIN_MENU, check, main, poll

INSTALL_DIR = "C:\\Program Files\\Five in a row"
PROGRAM = INSTALL_DIR + "\\fiveinarow.exe"
SHORTCUT = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Five in a row.lnk"
UNINSTALL = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
ENTRY = UNINSTALL + "\\fiveinarow"
PICTURES = ("menu", "mi_local", "mi_net", "mi_exit", "net_slave", "net_master", "ptr")
# What the installed game writes when Exit is clicked in its main menu.
PACKAGED_LINES = ["Initing net", "Choice: 2", "End", "system done"]
# Installing and uninstalling: a few seconds, more on a busy machine.
SETUP_TIMEOUT = 120


def registry_values(text):
    """{name: value} of the values `reg query` lists."""
    values = {}
    for line in text.splitlines():
        match = re.match(r"\s+(\S+)\s+(REG_\w+)\s+(.*)$", line)
        if match:
            values[match.group(1)] = match.group(3).strip()
    return values


def version_of(setup):
    """The version in the setup program's name, fiveinarow-VERSION-setup.exe."""
    match = re.match(r"fiveinarow-(.+)-setup\.exe$", os.path.basename(setup))
    check(match, f"unexpected name of the setup program: {setup}")
    return match.group(1)


def test(h):
    prefix = wine.prefix(h)
    installed = prefix.unix_path(INSTALL_DIR)
    files = ["fiveinarow.exe", "README.txt", "LICENSE.txt", "uninstall.exe"] + [
        os.path.join("data", f"{name}.tga") for name in PICTURES]

    started = time.monotonic()
    done = prefix.run([h.exe, "/S"], timeout=SETUP_TIMEOUT)
    check(done.returncode == 0, f"the silent install ended with {done.returncode}")
    print(f"installed in {time.monotonic() - started:.1f} s")
    check(sorted(os.path.relpath(os.path.join(folder, f), installed)
                 for folder, _, names in os.walk(installed) for f in names) == sorted(files),
          f"installed files: {list(os.walk(installed))}")
    for name in PICTURES:
        with open(os.path.join(installed, "data", f"{name}.tga"), "rb") as a, \
                open(os.path.join(h.data, f"{name}.tga"), "rb") as b:
            check(a.read() == b.read(), f"the installed {name}.tga differs from data/")
    with open(os.path.join(installed, "README.txt"), "rb") as f:
        readme = f.read()
    check(b"31211" in readme and b"31212" in readme, "README.txt does not name the two ports")
    check(readme.count(b"\n") == readme.count(b"\r\n"), "README.txt has Unix line ends")
    with open(os.path.join(installed, "LICENSE.txt"), "rb") as f:
        licence = f.read()
    check(b"MIT License" in licence and b"gift-ware" in licence,
          "LICENSE.txt lacks the game's or the graphics library's licence")
    check(os.path.isfile(prefix.unix_path(SHORTCUT)), "no Start-menu shortcut")

    version = version_of(h.exe)
    entry = prefix.registry(ENTRY)
    check(entry is not None, f"no key {ENTRY}")
    values = registry_values(entry)
    expected = {
        "DisplayName": "Five in a row",
        "DisplayVersion": version,
        "Publisher": "The fiveinarow developers",
        "DisplayIcon": PROGRAM + ",0",
        "InstallLocation": INSTALL_DIR,
        "UninstallString": f'"{INSTALL_DIR}\\uninstall.exe"',
        "QuietUninstallString": f'"{INSTALL_DIR}\\uninstall.exe" /S',
        "NoModify": "0x1",
        "NoRepair": "0x1",
    }
    for name, value in expected.items():
        check(values.get(name) == value, f"{name} is {values.get(name)!r}, not {value!r}")
    size = int(values.get("EstimatedSize", "0"), 16)
    check(1000 < size < 20000, f"EstimatedSize {size} KB")

    # The program's version resource names the same version.
    resources = subprocess.run(["x86_64-w64-mingw32-windres", "-i",
                                os.path.join(installed, "fiveinarow.exe"), "-O", "rc"],
                               capture_output=True, check=True, timeout=60).stdout.decode()
    check(f'VALUE "ProductVersion", "{version}"' in resources
          and 'VALUE "ProductName", "Five in a row"' in resources
          and '"ALLEGRO_ICON" 14' in resources, "the program lacks its version or its icon")

    # Started from a folder without pictures, as from the shortcut of another working folder:
    # the pictures of its main menu come from data\ beside the program.
    elsewhere = os.path.join(h.scratch, "elsewhere")
    os.mkdir(elsewhere)
    program = wine.WineProgram(h, h.display(), prefix, PROGRAM, cwd=elsewhere)
    program.wait_for_menu(MAIN_MENU, "the installed game's main menu")
    program.ready_for_input()
    program.leave()
    program.expect_clean_exit(PACKAGED_LINES)

    # As the list of installed programs does it. The uninstaller goes on from a copy of itself
    # after the started one has returned.
    quiet = values["QuietUninstallString"]
    command = re.match(r'"([^"]+)"\s*(.*)$', quiet)
    started = time.monotonic()
    done = prefix.run([command.group(1), *command.group(2).split()], timeout=SETUP_TIMEOUT)
    check(done.returncode == 0, f"the silent uninstall ended with {done.returncode}")
    for _ in poll(SETUP_TIMEOUT, "the uninstaller to remove everything", step=0.2):
        if not os.path.exists(installed) and prefix.registry(ENTRY) is None:
            break
    print(f"uninstalled in {time.monotonic() - started:.1f} s")
    check(not os.path.exists(prefix.unix_path(SHORTCUT)), "the shortcut is left")
    listing = prefix.registry(UNINSTALL) or ""
    check("fiveinarow" not in listing.lower() and "Five in a row" not in listing,
          "the list of installed programs still has the game")


if __name__ == "__main__":
    main("windows_installer", test)
