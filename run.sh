#!/usr/bin/env bash
# Installs what is missing, builds, and starts the game (from the repository root, so that the
# program finds data/).
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh build
exec ./build/fiveinarow
