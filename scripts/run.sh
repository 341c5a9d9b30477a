#!/usr/bin/env bash
# Sets up (Debian packages; setup.sh uses sudo when not root; BRULIN_SKIP_SETUP=1 skips it), builds the
# optimised program into build-release/ (build-release.sh: no sanitizers), then starts the loader
# build-release/Brulin, which starts the main program "BrulinUI -pro" beside it, copies its log into
# BrulinLog.log, restarts it after it ran out of memory and starts the crash reporter after a crash. Reading
# disks needs root; without it only image files and readable devices are listed.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-release}
export BUILD_DIR
if [ "${BRULIN_SKIP_SETUP:-0}" != 1 ]; then
  bash scripts/setup.sh
fi
bash scripts/build-release.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: there is no display (DISPLAY is not set), so the window cannot be shown." >&2
  echo "run.sh: start it from a desktop session, or on a virtual X server:" >&2
  echo "          xvfb-run -a $BUILD_DIR/Brulin" >&2
  exit 2
fi
exec "$BUILD_DIR/Brulin"
