#!/usr/bin/env bash
# The Windows build's tests, under wine on private Xvfb displays (each test makes its own wine
# prefix from a template booted once into the cache): cross-builds (build.sh) and packs into a
# scratch folder (pack.sh), builds the Linux game and the text helper of the window tests into
# build/, then runs
# - the unit tests that build for Windows, under CTest in build-windows/cross;
# - tests/windows/test_exit.py: the game ends promptly after focus changes and in the
#   background, whichever way it is asked to;
# - tests/windows/test_installer.py: the setup program installs silently with the game's firewall
#   rules (TCP and UDP), the installed game starts from another folder, and the silent uninstall
#   leaves nothing behind, rules included; again where netsh fails;
# - tests/windows/test_cross_play.py: the Windows game under wine plays whole network games
#   against the Linux game, as slave and as master, and its close button ends it mid-game;
# - tests/windows/test_cross_lan.py: the Windows game and the Linux game, on two machines of a
#   LAN of the test's own, list each other's hosted game at the address prompt and join it;
# - tests/windows/test_cross_homes.py: the Windows game hosts behind a router of the test's own,
#   which it asks to forward its port, and the Linux game joins it from behind another;
# - tests/windows/test_desktop.py: the window's class, process id and icon as a desktop reads
#   them, and the game's arrow only while the pointer is over the window.
# The tests that use the game's ports run one after the other, each in a private network
# namespace of its own (scripts/private-network.sh). About 2 minutes once the libraries are in
# the cache (their first build takes 3 to 5 more).
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh windows test
scripts/windows/build.sh build-windows
# Inside the build folder: the tests' private namespaces may have a /tmp of their own.
packed=build-windows/packed
rm -rf "$packed"
scripts/windows/pack.sh build-windows "$packed"
scripts/build.sh build -DBUILD_TESTING=ON --target fiveinarow --target window_text_mask
text_mask=build/tests/window/window_text_mask

# The peer tests bind fixed ports: in a private network namespace, with a wineserver of its own
# (wine's sockets are its server's, and one still running for the prefix outside would answer).
# That server and the prefix's system processes start once, before the cases run two at a time,
# and stay until the end: two cases never share their start, nor meet a server that is ending.
# shellcheck disable=SC2016
scripts/private-network.sh bash -c 'set -u
    export WINEPREFIX=$PWD/build-windows/cross/wineprefix; wineserver -k 2>/dev/null; status=0
    python3 -B tests/window/wine.py start --prefix "$WINEPREFIX" &&
        ctest --test-dir build-windows/cross --output-on-failure -j2 -L "unit|peer" || status=$?
    wineserver -k 2>/dev/null; exit $status'
timeout 900 python3 -B tests/windows/test_exit.py build-windows/cross/fiveinarow.exe \
    --data data --text-mask "$text_mask"
timeout 600 python3 -B tests/windows/test_installer.py "$packed"/fiveinarow-*-setup.exe \
    --data data --text-mask /dev/null
timeout 900 python3 -B tests/windows/test_cross_play.py build/fiveinarow --data data \
    --text-mask "$text_mask" --windows build-windows/cross/fiveinarow.exe
timeout 300 python3 -B tests/windows/test_cross_lan.py build/fiveinarow --data data \
    --text-mask "$text_mask" --windows build-windows/cross/fiveinarow.exe
timeout 300 python3 -B tests/windows/test_cross_homes.py build/fiveinarow --data data \
    --text-mask "$text_mask" --windows build-windows/cross/fiveinarow.exe
timeout 300 python3 -B tests/windows/test_desktop.py build-windows/cross/fiveinarow.exe \
    --data data --text-mask "$text_mask" --pictures-tool build-windows/host/make_pictures
echo "All Windows tests passed."
