#!/usr/bin/env bash
# The shipped pair: Brulin starts BrulinUI (both from the build folder), whose log lines reach
# "BrulinLog.log" through the shared buffer; when the program ends, the loader ends with 0.
# Runs under a virtual X server, with the XDG folders in a scratch folder.
set -u
build=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"
export XDG_STATE_HOME=$scratch/state XDG_RUNTIME_DIR=$scratch/run XDG_CONFIG_HOME=$scratch/config
log=$XDG_STATE_HOME/brulin/BrulinLog.log
program=
fail() {
  echo "FAIL: $*"
  [ -f "$log" ] && { echo "--- log:"; cat "$log"; }
  [ -n "$program" ] && kill -KILL "$program" 2>/dev/null
  kill -KILL "$loader" 2>/dev/null
  exit 1
}

"$build/Brulin" &
loader=$!
# The program's first lines reach the log file within one wait of the loader (5 s).
for _ in $(seq 1 300); do
  grep -q "Main window shown." "$log" 2>/dev/null && break
  kill -0 "$loader" 2>/dev/null || break
  sleep 0.1
done
program=$(cat "/proc/$loader/task/$loader/children" 2>/dev/null | tr -d ' ')
grep -q "Main window shown." "$log" 2>/dev/null || fail "the window line never reached the log"
grep -q "Oxtavo Data Recovery" "$log" || fail "no banner in the log"
# The loader's child is the main program; end it from outside.
[ -n "$program" ] || fail "the loader has no child"
grep -q "BrulinUI" "/proc/$program/cmdline" || fail "the loader's child is not BrulinUI"
kill -TERM "$program"
wait "$loader"
status=$?
[ "$status" -eq 0 ] || fail "the loader ended with $status"
[ -p "$XDG_RUNTIME_DIR/brulin/Brulin_Crash_{FC1A0E29-3523-4152-B110-3340363E5DB7}" ] && fail "crash FIFO left behind"
echo "ok"
