#!/usr/bin/env bash
# Installs what building the game needs on a Debian machine; with "package", what building its
# Debian package needs too; with "test", what testing it (the package included) needs as well.
# Installs nothing that is already there; needs root or sudo for the rest.
set -euo pipefail

packages=(liballegro4-dev libpng-dev cmake ninja-build g++ pkg-config)
package=(build-essential debhelper dpkg-dev libgtest-dev)
case "${1:-}" in
    package) packages+=("${package[@]}") ;;
    test)
        # nftables and iproute2: the network fault tests drop packets in a private network namespace.
        # appstream validates the package's metadata; mmdebstrap makes the throwaway root that the
        # package is installed into.
        packages+=(libgtest-dev xvfb xdotool x11-apps imagemagick python3 clang libclang-rt-14-dev
            clang-format "${package[@]}" lintian desktop-file-utils appstream mmdebstrap nftables
            iproute2)
        ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
