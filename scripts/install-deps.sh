#!/usr/bin/env bash
# Installs what building the game needs on a Debian machine; with "package", what building its
# Debian package needs too; with "test", what testing it (the package included) needs as well;
# with "windows", what cross-building, packing and testing the Windows build needs. Several groups
# may be given. Installs nothing that is already there; needs root or sudo for the rest.
set -euo pipefail

# The game alone; libpng only for the picture generator, which draws the package's icons.
# libx11-dev: the window's class, icon and scale are set and read with Xlib beside the library.
# libminiupnpc-dev and libnatpmp-dev: the game asks the router in front of the machine to forward
# its port (UPnP-IGD and NAT-PMP).
packages=(liballegro4-dev libx11-dev libminiupnpc-dev libnatpmp-dev cmake ninja-build g++
    pkg-config)
package=(build-essential debhelper dpkg-dev libpng-dev libgtest-dev)
for group in "$@"; do
    case "$group" in
        package) packages+=("${package[@]}") ;;
        test)
            # nftables and iproute2: the network fault tests drop packets in a private network
            # namespace. mmdebstrap, git: the fresh-machine test makes a new Debian root and
            # clones into it, and the package test installs the package into one; both mount
            # (a minimal root may lack mount). appstream validates the package's metadata.
            # x11-utils (xprop) reads the window's properties back, x11-xserver-utils (xrdb)
            # gives a test display a desktop's resolution. uidmap: mmdebstrap makes those roots
            # as an ordinary user with the user's subordinate ids; eatmydata spares them dpkg's
            # syncs.
            packages+=(xvfb xdotool x11-apps imagemagick python3 clang
                libclang-rt-14-dev clang-format "${package[@]}" lintian desktop-file-utils appstream
                nftables iproute2 mmdebstrap debian-archive-keyring git mount x11-utils
                x11-xserver-utils uidmap eatmydata miniupnpd-nftables stun-server)
            ;;
        windows)
            # The posix flavour of the mingw-w64 compilers (POSIX threads); the graphics library's
            # source comes from Debian's archive (dpkg-dev), GoogleTest's from the googletest
            # package; wine runs the programs, tests and installer; nsis builds the installer;
            # libpng: the picture generator draws the program's icon.
            packages+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
                binutils-mingw-w64-x86-64 wine wine64 nsis zip dpkg-dev googletest python3
                libpng-dev)
            ;;
        *)
            echo "install-deps.sh: unknown group $group" >&2
            exit 2
            ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
# The tests run the router daemons in namespaces of their own, never as the machine's services:
# miniupnpd-nftables is the daemon alone (its service and questions are the miniupnpd package's,
# which the tests do without), and stun-server's service starts only once enabled in
# /etc/default/stun. A policy-rc.d of the install's own, where the machine has none, keeps any
# package's service from being started by the install all the same.
policy=/usr/sbin/policy-rc.d
if [ ! -e $policy ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee $policy >/dev/null
    $sudo chmod 755 $policy
    trap '$sudo rm -f $policy' EXIT
fi
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
