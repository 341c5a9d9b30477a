#!/usr/bin/env bash
# Configures and builds the optimised program (Release, without the sanitizers and the fuzz
# targets) into build-release/: the loader Brulin, the main program BrulinUI with its resources,
# libPennat.so, the tests and the benchmarks. This is the build users run and that is packaged.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-release}
LAUNCHER=()
if command -v ccache >/dev/null 2>&1; then LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja "${LAUNCHER[@]}" \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCMAKE_BUILD_TYPE=Release -DBRULIN_SANITIZE=OFF -DBRULIN_FUZZ=OFF
fi
cmake --build "$BUILD_DIR" -j"$(nproc)" "$@"
