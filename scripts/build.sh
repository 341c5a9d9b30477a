#!/usr/bin/env bash
# Configures and builds everything (engine, programs, tests, fuzz targets, benchmarks) into
# build/ with clang 14, AddressSanitizer and UndefinedBehaviorSanitizer: the build the tests and
# fuzz targets run on (test.sh, CI). The program users run is built by build-release.sh, which
# passes its own folder (BUILD_DIR) and configuration (BRULIN_CONFIGURE) to this script.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
read -r -a CONFIGURE <<< "${BRULIN_CONFIGURE:--DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRULIN_SANITIZE=ON -DBRULIN_FUZZ=ON}"
LAUNCHER=()
if command -v ccache >/dev/null 2>&1; then LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja "${LAUNCHER[@]}" \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 "${CONFIGURE[@]}"
fi
cmake --build "$BUILD_DIR" -j"$(nproc)" "$@"
