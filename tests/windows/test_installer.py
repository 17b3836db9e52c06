"""The Windows setup program under wine: a silent install puts the program, its pictures, README
and LICENSE into Program Files, a Start-menu shortcut and a complete entry among the installed
programs, and a firewall rule that lets the installed program accept connections on private and
domain networks; the installed game, started from another folder, shows its main menu with the
pictures installed beside it and ends from Exit; the entry's silent uninstall removes the rule and
leaves no file, shortcut or registry key behind. All of that again where netsh fails (no firewall
service): the game installs, plays and goes all the same.

Wine's netsh does nothing, so the prefix gets a stand-in (netsh_standin.c, built here with the
mingw compiler) that records how it is called and fails while a flag file exists.

Usage: test_installer.py SETUP.EXE --data DATA --text-mask /dev/null
"""

import os
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "window"))
# pylint: disable=wrong-import-position
import wine
from harness.checks import check, poll
from harness.geometry import MAIN_MENU
from harness.runner import main

NETSH_SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "netsh_standin.c")
NETSH_CALLS = "C:\\netsh-calls.txt"
NETSH_FAILS = "C:\\netsh-fails"

INSTALL_DIR = "C:\\Program Files\\Five in a row"
PROGRAM = INSTALL_DIR + "\\fiveinarow.exe"
SHORTCUT = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Five in a row.lnk"
UNINSTALL = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
ENTRY = UNINSTALL + "\\fiveinarow"
PICTURES = ("menu", "mi_local", "mi_net", "mi_exit", "net_slave", "net_master", "ptr")
# What the installed game writes when Exit is clicked in its main menu.
PACKAGED_LINES = ["Initing net", "Choice: 2", "End", "system done"]
# netsh's calls for the game's rules: the installed program alone, inbound TCP and UDP (the
# games found on the network), on private and domain networks but not on public ones; and for
# taking them away again: all of them before an install, each by itself at the uninstall.
RULE = {"name=Five in a row", f"program={PROGRAM}"}
ALLOWED = {"dir=in", "action=allow", "profile=private,domain", "enable=yes"}
ADD = [("advfirewall firewall add rule", RULE | ALLOWED | {f"protocol={protocol}"})
       for protocol in ("TCP", "UDP")]
DELETE = ("advfirewall firewall delete rule", RULE)
REMOVE = [("advfirewall firewall delete rule", RULE | {f"protocol={protocol}"})
          for protocol in ("TCP", "UDP")]
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


def stand_in_netsh(prefix):
    """Puts the stand-in in the place of wine's netsh.exe in `prefix`."""
    exe = prefix.unix_path("C:\\windows\\system32\\netsh.exe")
    subprocess.run(["x86_64-w64-mingw32-gcc", "-municode", "-O2", "-o", exe, NETSH_SOURCE],
                   check=True, timeout=120)
    done = prefix.run(["reg", "add", "HKCU\\Software\\Wine\\DllOverrides", "/v", "netsh.exe",
                       "/d", "native", "/f"])
    check(done.returncode == 0, f"could not make wine run the stand-in netsh: {wine.ended(done)}")


def netsh_calls(prefix):
    """The stand-in netsh's calls since the last look, as (command, {parameters}); each call must
    have failed while the flag file was there, and only then."""
    path = prefix.unix_path(NETSH_CALLS)
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        calls = [line.rstrip("\n").split("\t") for line in f]
    os.remove(path)
    status = str(int(os.path.exists(prefix.unix_path(NETSH_FAILS))))
    check(all(call[0] == status for call in calls), f"netsh calls: {calls}, not all with {status}")
    return [(" ".join(call[1:5]), set(call[5:])) for call in calls]


def install(h, prefix, files):
    """Installs silently: exactly `files`, and the rule (any of an earlier install taken away)."""
    installed = prefix.unix_path(INSTALL_DIR)
    started = time.monotonic()
    done = prefix.run([h.exe, "/S"], timeout=SETUP_TIMEOUT)
    check(done.returncode == 0, f"the silent install failed: {wine.ended(done)}")
    print(f"installed in {time.monotonic() - started:.1f} s")
    check(sorted(os.path.relpath(os.path.join(folder, f), installed)
                 for folder, _, names in os.walk(installed) for f in names) == sorted(files),
          f"installed files: {list(os.walk(installed))}")
    calls = netsh_calls(prefix)
    check(calls[-2:] == ADD and all(call == DELETE for call in calls[:-2]),
          f"the setup program called netsh with {calls}, not to add {ADD}")


def play(h, prefix):
    """Started from a folder without pictures, as from the shortcut of another working folder:
    the pictures of its main menu come from data\\ beside the program."""
    elsewhere = tempfile.mkdtemp(dir=h.scratch, prefix="elsewhere-")
    program = wine.WineProgram(h, h.display(), prefix, PROGRAM, cwd=elsewhere)
    program.wait_for_menu(MAIN_MENU, "the installed game's main menu")
    program.ready_for_input()
    program.leave()
    program.expect_clean_exit(PACKAGED_LINES)


def uninstall(prefix, quiet):
    """As the list of installed programs does it, with its QuietUninstallString: nothing may be
    left. The uninstaller goes on from a copy of itself after the started one has returned."""
    installed = prefix.unix_path(INSTALL_DIR)
    command = re.match(r'"([^"]+)"\s*(.*)$', quiet)
    started = time.monotonic()
    done = prefix.run([command.group(1), *command.group(2).split()], timeout=SETUP_TIMEOUT)
    check(done.returncode == 0, f"the silent uninstall failed: {wine.ended(done)}")
    for _ in poll(SETUP_TIMEOUT, "the uninstaller to remove everything", step=0.2):
        if not os.path.exists(installed) and prefix.registry(ENTRY) is None:
            break
    print(f"uninstalled in {time.monotonic() - started:.1f} s")
    check(not os.path.exists(prefix.unix_path(SHORTCUT)), "the shortcut is left")
    listing = prefix.registry(UNINSTALL) or ""
    check("fiveinarow" not in listing.lower() and "Five in a row" not in listing,
          "the list of installed programs still has the game")
    calls = netsh_calls(prefix)
    check(calls == REMOVE, f"the uninstaller called netsh with {calls}, not to {REMOVE}")


def test(h):
    prefix = wine.prefix(h)
    stand_in_netsh(prefix)
    installed = prefix.unix_path(INSTALL_DIR)
    files = ["fiveinarow.exe", "README.txt", "LICENSE.txt", "uninstall.exe"] + [
        os.path.join("data", f"{name}.tga") for name in PICTURES]

    install(h, prefix, files)
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

    play(h, prefix)
    uninstall(prefix, values["QuietUninstallString"])

    # Where netsh fails, the game is installed, plays and is removed all the same.
    with open(prefix.unix_path(NETSH_FAILS), "w", encoding="utf-8"):
        pass
    install(h, prefix, files)
    play(h, prefix)
    uninstall(prefix, values["QuietUninstallString"])


if __name__ == "__main__":
    main("windows_installer", test)
