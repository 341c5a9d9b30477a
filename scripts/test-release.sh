#!/usr/bin/env bash
# Builds the optimised program (see build-release.sh) and runs every test on it (there are no
# fuzz targets in that build).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-release}
export BUILD_DIR
bash scripts/build-release.sh
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)" "$@"
