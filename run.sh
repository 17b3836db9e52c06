#!/usr/bin/env bash
# Installs what the game needs and is missing, builds the game alone (no tests, benchmarks or
# tools) into build-game/, and starts it from the repository root, so that it finds data/.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh build-game -DBUILD_TESTING=OFF --target fiveinarow
exec ./build-game/fiveinarow
