#!/usr/bin/env bash
# Configures and builds the optimised program (Release, without the sanitizers and the fuzz
# targets) into build-release/: the loader Brulin, the main program BrulinUI with its resources,
# libPennat.so, the tests and the benchmarks. This is the build users run and that is packaged.
set -euo pipefail
cd "$(dirname "$0")/.."
export BUILD_DIR=${BUILD_DIR:-build-release}
export BRULIN_CONFIGURE="-DCMAKE_BUILD_TYPE=Release -DBRULIN_SANITIZE=OFF -DBRULIN_FUZZ=OFF"
exec bash scripts/build.sh "$@"
