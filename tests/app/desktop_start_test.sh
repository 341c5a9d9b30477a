#!/usr/bin/env bash
# The desktop entry's start, "Brulin --administrator", by a user who is not root, with a
# stand-in pkexec first on the PATH that records what it was asked to run:
#  - pkexec runs the loader (the stand-in ends with 0): the user's loader asked for its own
#    absolute path and started nothing itself;
#  - pkexec refuses (126): the loader starts the program as the user, and the Deep Scan device
#    page says in one line why no disk is listed (screenshots, at the usual and at the larger
#    font);
#  - no pkexec at all: the program still starts as the user.
# Under root the user is nobody, in a mount namespace whose /sys/block lists one disk that
# only root may open (/dev/loop0, a loop device with a backing file), so the refusal is the
# system's own. Without root the script runs as its own user and checks only what pkexec is
# asked and that the program starts.
#   desktop_start_test.sh <build folder> <x_screenshot> <screenshot folder> <scratch folder> <large-font config>
set -euo pipefail
build=$(cd "$1" && pwd) shot=$2 shots=$3 scratch=$4 largeFont=$5
rm -rf "$scratch"
mkdir -p "$scratch" "$shots"
scratch=$(cd "$scratch" && pwd) shot=$(realpath "$shot")
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export ASAN_OPTIONS="${ASAN_OPTIONS//detect_leaks=1/detect_leaks=0}"
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v xdotool >/dev/null || fail "xdotool is missing (scripts/setup.sh installs it)"
loader=$build/Brulin
[ -x "$loader" ] && [ -x "$build/BrulinUI" ] || fail "no Brulin and BrulinUI in $build"

home=$scratch/home
standin=$scratch/standin
mkdir -p "$home/config" "$home/config-large" "$standin" "$scratch/no-pkexec"
cp -r "$largeFont/gtk-3.0" "$home/config-large/"
cat > "$standin/pkexec" <<'STANDIN'
#!/bin/sh
# Records the command it was asked to run as root, and answers as pkexec would.
printf '%s\n' "$*" >> "$PKEXEC_RECORD"
exit "$PKEXEC_STATUS"
STANDIN
chmod 755 "$standin/pkexec"

denied=no
run_as=()
if [ "$(id -u)" -eq 0 ]; then
  command -v unshare >/dev/null && command -v setpriv >/dev/null || fail "unshare and setpriv are needed under root"
  [ -b /dev/loop0 ] || fail "no /dev/loop0 to stand for a disk only root may read"
  # The disk: a loop device with a backing file, as the system lists one.
  mkdir -p "$scratch/sys-block/loop0/loop"
  echo "$scratch/disk.img" > "$scratch/sys-block/loop0/loop/backing_file"
  echo 2048 > "$scratch/sys-block/loop0/size"
  echo 0 > "$scratch/sys-block/loop0/removable"
  chown -R nobody "$home"
  chmod 755 "$scratch"
  denied=yes
  run_as=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups)
fi

cat > "$scratch/session.sh" <<SESSION
#!/usr/bin/env bash
set -u
export HOME="$home" XDG_STATE_HOME="$home/state" XDG_RUNTIME_DIR="$home/run"
log="$home/state/brulin/BrulinLog.log"
export PKEXEC_RECORD="$home/pkexec.txt"
fail() { echo "FAIL: \$*" >&2; "$shot" "$home/failure.png" || true; stop; exit 1; }
stop() {
  local program
  program=\$(cat "/proc/\$pid/task/\$pid/children" 2>/dev/null | tr -d ' ')
  [ -n "\$program" ] && kill -TERM \$program 2>/dev/null
  wait \$pid 2>/dev/null
}
wait_log() {
  for i in \$(seq 1 \$((\$2 * 5))); do
    grep -q "\$1" "\$log" 2>/dev/null && return 0
    kill -0 \$pid 2>/dev/null || fail "the loader ended while waiting for '\$1'"
    sleep 0.2
  done
  fail "no '\$1' in the activity log"
}

# pkexec runs the loader: the user's loader only asked for it.
rm -f "\$PKEXEC_RECORD"
PATH="$standin:\$PATH" PKEXEC_STATUS=0 "$loader" --administrator > "$home/granted.txt" 2>&1
echo "granted: \$?" > "$home/results.txt"
[ -f "\$log" ] && echo "granted: started a program" >> "$home/results.txt"

# pkexec refuses: the program starts as the user; the Deep Scan device page (its mode button
# is the middle one of the mode page).
for font in usual larger; do
  rm -f "\$PKEXEC_RECORD" "\$log"
  config="$home/config"
  [ \$font = larger ] && config="$home/config-large"
  XDG_CONFIG_HOME=\$config PATH="$standin:\$PATH" PKEXEC_STATUS=126 "$loader" --administrator > "$home/refused-\$font.txt" 2>&1 &
  pid=\$!
  wait_log "Main window shown." 40
  win=\$(xdotool search --onlyvisible --name "^Oxtavo Data Recovery\$" 2>/dev/null | head -1)
  [ -n "\$win" ] || fail "no main window"
  xdotool mousemove --window \$win 477 351 click 1
  wait_log "Performing Complete File Recovery" 20
  sleep 1.5
  "$shot" "$home/device-page-\$font.png" || fail "no screenshot"
  eval "\$(xdotool getwindowgeometry --shell \$win)"
  echo "\$X \$Y" > "$home/window-\$font.txt"
  echo "refused \$font: \$(cat "\$PKEXEC_RECORD" 2>/dev/null)" >> "$home/results.txt"
  stop
done

# No pkexec at all.
rm -f "\$log"
PATH="$scratch/no-pkexec" "$loader" --administrator > "$home/missing.txt" 2>&1 &
pid=\$!
wait_log "Main window shown." 40
echo "missing: window shown" >> "$home/results.txt"
stop
SESSION
chmod 755 "$scratch/session.sh"

session=(xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash "$scratch/session.sh")
if [ $denied = yes ]; then
  timeout -k 10 240 unshare -m --propagation private \
    bash -c 'mount --bind "$1" /sys/block && shift && exec "$@"' mount "$scratch/sys-block" "${run_as[@]}" "${session[@]}" ||
    fail "the session failed (status $?)"
else
  timeout -k 10 240 "${session[@]}" || fail "the session failed (status $?)"
fi

results=$home/results.txt
[ -f "$results" ] || fail "the session left no results"
cat "$results"
grep -qx "granted: 0" "$results" || fail "the loader did not end with pkexec's status ($(cat "$home/granted.txt"))"
grep -q "granted: started a program" "$results" && fail "the loader started the program itself although pkexec ran it"
for font in usual larger; do
  grep -qx "refused $font: $loader" "$results" || fail "$font font: the loader did not ask pkexec to run $loader"
  [ -s "$home/device-page-$font.png" ] || fail "$font font: no screenshot"
  cp "$home/device-page-$font.png" "$shots/desktop_start_device_page_$font.png"
done
grep -qx "missing: window shown" "$results" || fail "without pkexec the program did not start"

# The device page's line: the empty list is white, so its text is the only dark in the band of
# its first line (175..215 pixels below the frame's top, from 60 pixels right of its left edge;
# the band below it stays white).
if [ $denied = yes ]; then
  for font in usual larger; do
    read -r x y < "$home/window-$font.txt"
    dark=$(convert "$home/device-page-$font.png" -crop 840x40+$((x + 60))+$((y + 175)) \
      -colorspace Gray -fx "(p < 0.4) ? 1 : 0" -format "%[fx:mean]" info:)
    below=$(convert "$home/device-page-$font.png" -crop 840x40+$((x + 60))+$((y + 230)) \
      -colorspace Gray -fx "(p < 0.4) ? 1 : 0" -format "%[fx:mean]" info:)
    echo "$font font: dark share in the list's first line: $dark, under it: $below"
    awk -v v="$dark" -v b="$below" 'BEGIN { exit !(v > 0.02 && b < 0.001) }' ||
      fail "$font font: the device page shows no line about rights"
  done
else
  echo "not root: the refused-disk line is left to the window tests"
fi
echo OK
