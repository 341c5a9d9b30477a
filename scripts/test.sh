#!/usr/bin/env bash
# Builds (see build.sh) and runs every test, including a short run of each fuzz target over
# its seeds.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
bash scripts/build.sh
# A run through sudo (or pkexec) tests the program as root, not an administrator start for the
# user behind it: the tests of that start set these themselves.
unset PKEXEC_UID SUDO_UID
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)" "$@"
