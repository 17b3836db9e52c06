#!/usr/bin/env bash
# The Windows packages (./package.sh windows): installs what building them needs, cross-builds
# into build-windows/ (build.sh) and packs the zip and the setup program into a fresh dist/
# (pack.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh windows
scripts/windows/build.sh build-windows
scripts/windows/pack.sh build-windows
