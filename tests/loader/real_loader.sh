#!/usr/bin/env bash
# The shipped pair: Brulin starts BrulinUI (both from the build folder), whose log lines reach
# "BrulinLog.log" through the shared buffer; when the program ends, the loader ends with 0.
# Then a crash: a loader in a scratch folder (beside a link to the real BrulinUI and a stand-in
# crash reporter) starts the program, which is sent SIGSEGV; its crash handler tells the
# loader, leaves its crash line in the crash note (which the loader copies into the log) and
# a dump, and the loader starts the reporter.
# Runs under a virtual X server, with the XDG folders in a scratch folder.
set -u
build=$(cd "$1" && pwd)
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"
export XDG_STATE_HOME=$scratch/state XDG_RUNTIME_DIR=$scratch/run XDG_CONFIG_HOME=$scratch/config
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
log=$XDG_STATE_HOME/brulin/BrulinLog.log
program=
fail() {
  echo "FAIL: $*"
  [ -f "$log" ] && { echo "--- log:"; cat "$log"; }
  [ -n "$program" ] && kill -KILL "$program" 2>/dev/null
  kill -KILL "$loader" 2>/dev/null
  exit 1
}

# Starts the loader $1 in the background and waits until the program's window line is in the
# log (within one wait of the loader, 5 s); sets loader and program.
start_loader() {
  "$1" &
  loader=$!
  for _ in $(seq 1 300); do
    grep -q "Main window shown." "$log" 2>/dev/null && break
    kill -0 "$loader" 2>/dev/null || break
    sleep 0.1
  done
  program=$(cat "/proc/$loader/task/$loader/children" 2>/dev/null | tr -d ' ')
}

start_loader "$build/Brulin"
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
ls "$XDG_STATE_HOME"/brulin/Brulindump* >/dev/null 2>&1 && fail "a dump after a normal end"
echo "normal run: ok"

bin=$scratch/bin
mkdir -p "$bin"
cp "$build/Brulin" "$bin/Brulin"
ln -s "$build/BrulinUI" "$bin/BrulinUI"
printf '#!/bin/sh\necho reported > "%s"\n' "$scratch/reported" > "$bin/BrulinReport"
chmod 755 "$bin/BrulinReport"
program=
rm -f "$log"  # so that the wait sees this run's window line, not the last one's
start_loader "$bin/Brulin"
grep -q "Main window shown." "$log" 2>/dev/null || fail "crash run: the window line never reached the log"
[ -n "$program" ] || fail "crash run: the loader has no child"
kill -SEGV "$program"
wait "$loader"
status=$?
[ "$status" -eq 0 ] || fail "crash run: the loader ended with $status"
# The loader starts the reporter and ends without waiting for it: give the reporter time to run.
for _ in $(seq 100); do [ -f "$scratch/reported" ] && break; sleep 0.1; done
[ -f "$scratch/reported" ] || fail "crash run: the reporter was not started"
grep -q "^Caught an excetpion! Exception Code:0000000b Address:" "$log" || fail "crash run: no crash line in the log"
[ -e "$XDG_RUNTIME_DIR/brulin/crash-note.txt" ] && fail "crash run: the crash note was left behind"
dump=$XDG_STATE_HOME/brulin/Brulindump0.dmp
[ -f "$dump" ] || fail "crash run: no dump"
head -2 "$dump" | grep -q "^signal: 11$" || fail "crash run: the dump names no SIGSEGV"
grep -q "^backtrace:$" "$dump" && grep -q "^maps:$" "$dump" || fail "crash run: dump without backtrace or maps"
echo "crash run: ok"
