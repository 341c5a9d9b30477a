#!/usr/bin/env bash
# The program as a user starts it: "BrulinUI -pro" on a virtual X server, with its XDG folders
# in a scratch folder, writes the activity-log banner and shows the mode page (screenshot).
# Under root it runs a second time as an unprivileged user. Without "-pro" it ends at once
# and shows no window.
#   program_test.sh <BrulinUI> <x_screenshot> <screenshot folder> <scratch folder>
set -euo pipefail
PATH=$PATH:/usr/sbin:/sbin # Debian's system tools, which a regular user's login PATH leaves out
program=$1 shot=$2 shots=$3 scratch=$4
rm -rf "$scratch"
mkdir -p "$scratch" "$shots"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export ASAN_OPTIONS="${ASAN_OPTIONS//detect_leaks=1/detect_leaks=0}"

fail() { echo "FAIL: $*" >&2; exit 1; }

# Runs the program on its own X server until its window is up, takes the screenshot, closes it.
# $1: user label (folder name); the rest: command prefix (e.g. setpriv ...).
run_once() {
  local label=$1; shift
  local home="$scratch/$label"
  mkdir -p "$home"
  if [ "$label" = nobody ]; then chown -R "$RUN_UID:$RUN_GID" "$home"; fi
  local script="$home/session.sh"
  cat > "$script" <<SESSION
#!/usr/bin/env bash
export HOME="$home" XDG_STATE_HOME="$home/state" XDG_RUNTIME_DIR="$home/run" XDG_CONFIG_HOME="$home/config"
timeout -k 5 60 "$program" -pro > "$home/stdout.txt" 2>&1 &
pid=\$!
for i in \$(seq 1 100); do
  grep -q "Main window shown." "$home/state/brulin/BrulinLog.log" 2>/dev/null && break
  kill -0 \$pid 2>/dev/null || break
  sleep 0.2
done
sleep 1.5
"$shot" "$home/screen.png" || true
kill -TERM \$pid 2>/dev/null || true
wait \$pid 2>/dev/null || true
SESSION
  chmod 755 "$script"
  timeout -k 10 150 "$@" xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash "$script" ||
    fail "$label: the session did not end in time (status $?)"
  local log="$home/state/brulin/BrulinLog.log"
  [ -f "$log" ] || fail "$label: no log at $log ($(cat "$home/stdout.txt" 2>/dev/null))"
  grep -q "^Oxtavo Data Recovery" "$log" || fail "$label: no banner"
  grep -q "^Date Generated: [0-9][0-9]/[0-9][0-9]/[0-9]* " "$log" || fail "$label: no date line"
  grep -q "^Memory status:" "$log" || fail "$label: no memory status"
  grep -q "^OS - " "$log" || fail "$label: no system line"
  grep -q "^Module Directory - $(dirname "$program")/" "$log" || fail "$label: no module folder"
  grep -q "Unsupported operating system" "$log" && fail "$label: unsupported system reported"
  grep -q "Main window shown." "$log" || fail "$label: the main window did not come up"
  [ "$(stat -c %a "$home/state/brulin")" = 700 ] || fail "$label: state folder not private"
  [ -s "$home/screen.png" ] || fail "$label: no screenshot"
  cp "$home/screen.png" "$shots/program_mode_page_$label.png"
  echo "$label: banner written, mode page shown"
}

# Without -pro: no window, no log, a non-zero status at once (a program that has not ended
# within the time limit ran: timeout's 124 and 137 fail too).
refused() {
  local status=0
  timeout -k 5 30 "$program" "$@" > "$scratch/nopro.txt" 2>&1 || status=$?
  [ "$status" -ne 0 ] && [ "$status" -ne 124 ] && [ "$status" -ne 137 ]
}
refused || fail "started without -pro"
refused pro || fail "started with 'pro'"

run_once "$(id -un)"
if [ "$(id -u)" -eq 0 ]; then
  RUN_UID=$(id -u nobody) RUN_GID=$(id -g nobody)
  # In a mount namespace of its own where nobody reaches the build folder wherever it lies.
  run_once nobody unshare -m --propagation private \
    bash -c 'set -eu; . "$1"; reach_keep "$2" "$3" "$4"; reach_give nobody; shift 4; exec "$@"' reach \
    "$(dirname "$(realpath "$0")")/../support/reach.sh" "$(dirname "$program")" "$(dirname "$shot")" "$scratch" \
    setpriv --reuid="$RUN_UID" --regid="$RUN_GID" --clear-groups
fi
echo OK
