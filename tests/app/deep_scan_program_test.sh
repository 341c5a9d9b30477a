#!/usr/bin/env bash
# Deep Scan Recovery in the program as a user runs it: "BrulinUI -pro" on a virtual X server,
# driven with xdotool (keys, and clicks at the places the page layouts give), waiting on the
# activity log. Deep Scan Recovery, Ctrl+O on the damaged disk image, the found-partition page,
# Next, the file page, Select All, Next, the target folder, Next, the result page. Every page
# and dialog is saved as a screenshot, and the recovered files are compared with the originals.
# BRULIN_DEBUG_OUTPUT=1 is set without -trace: the debug output (the device page's elapsed-time
# line) stays off standard error.
#   deep_scan_program_test.sh <BrulinUI> <x_screenshot> <make_deep_scan_disk> <screenshots> <scratch>
set -euo pipefail
PATH=$PATH:/usr/sbin:/sbin # Debian's system tools, which a regular user's login PATH leaves out
program=$1 shot=$2 maker=$3 shots=$4 scratch=$5
rm -rf "$scratch"
mkdir -p "$scratch" "$shots"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export ASAN_OPTIONS="${ASAN_OPTIONS//detect_leaks=1/detect_leaks=0}"

fail() { echo "FAIL: $*" >&2; exit 1; }
command -v xdotool >/dev/null || fail "xdotool is missing from $PATH (scripts/setup.sh installs it)"
fixture=$("$maker") || fail "the damaged disk could not be made"
[ -f "$fixture/disk.img" ] || fail "no disk image in $fixture"

home="$scratch/home"
target="$scratch/recovered"
mkdir -p "$home"
script="$scratch/session.sh"
cat > "$script" <<SESSION
#!/usr/bin/env bash
set -u
export HOME="$home" XDG_STATE_HOME="$home/state" XDG_RUNTIME_DIR="$home/run" XDG_CONFIG_HOME="$home/config"
export BRULIN_DEBUG_OUTPUT=1
log="$home/state/brulin/BrulinLog.log"
fail() { echo "FAIL: \$*" >&2; "$shot" "$scratch/failure.png" || true; kill -TERM \$pid 2>/dev/null; exit 1; }
# Waits until the activity log has a line matching \$1 (at most \$2 seconds).
wait_log() {
  for i in \$(seq 1 \$((\$2 * 5))); do
    grep -q "\$1" "\$log" 2>/dev/null && return 0
    kill -0 \$pid 2>/dev/null || fail "the program ended while waiting for '\$1'"
    sleep 0.2
  done
  fail "no '\$1' in the activity log"
}
# Waits for a window whose name matches \$1.
wait_window() {
  local w
  for i in \$(seq 1 100); do
    w=\$(xdotool search --onlyvisible --name "\$1" 2>/dev/null | head -1)
    [ -n "\$w" ] && { echo "\$w"; return 0; }
    sleep 0.2
  done
  return 1
}
snap() { sleep \${2:-0.8}; "$shot" "$shots/\$1.png" || fail "screenshot \$1"; }
click() { xdotool mousemove --window \$win \$1 \$2 click 1; sleep 0.5; }

timeout -k 5 200 "$program" -pro > "$scratch/stdout.txt" 2>&1 &
pid=\$!
wait_log "Main window shown." 30
win=\$(wait_window "^Oxtavo Data Recovery\$") || fail "no main window"
xdotool windowfocus --sync \$win 2>/dev/null || true
sleep 1
snap program_mode_page

# The mode page: the middle button.
click 477 351
wait_log "Performing Complete File Recovery" 10
snap program_device_page

# Ctrl+O: the file dialog takes the image's path.
xdotool windowfocus --sync \$win 2>/dev/null || true
xdotool key ctrl+o
dialog=\$(wait_window "Open|Select|File") || fail "no file dialog"
xdotool windowfocus --sync \$dialog 2>/dev/null || true
snap program_open_file_dialog 1
xdotool key ctrl+l
sleep 0.3
xdotool type --delay 20 "$fixture/disk.img"
sleep 0.3
xdotool key Return
wait_log "Intelligent searching image file device" 20
wait_log "Searched partition list:" 120
sleep 1
# The second row (the first NTFS partition) is ticked too.
click 61 210
snap program_partition_page 1

# Next: the trees of the ticked partitions, then the file page.
click 897 649
wait_log "Displaying directory tree." 120
snap program_file_page 1.5

# Select All, Next: the save page.
click 550 132
sleep 0.5
snap program_file_page_selected 0.5
click 897 649
sleep 1.5
snap program_save_page 0.5
# The target folder: the page's edit.
click 400 184
xdotool key ctrl+a
xdotool type --delay 10 "$target"
sleep 0.3
snap program_save_page_target 0.3
click 897 649
wait_log "Files are saved in" 120
snap program_result_page 1.5
kill -TERM \$pid 2>/dev/null || true
wait \$pid 2>/dev/null || true
exit 0
SESSION
chmod 755 "$script"
timeout -k 10 280 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash "$script" ||
  fail "the session failed (status $?; $(tail -3 "$scratch/stdout.txt" 2>/dev/null))"

log="$home/state/brulin/BrulinLog.log"
grep -q "Performing Complete File Recovery" "$log" || fail "no mode line"
grep -q "Files are saved in $target" "$log" || fail "no saved line"
# The device page timed its list; without -trace that line reached no one.
grep -q "dwElapsedTime" "$scratch/stdout.txt" &&
  fail "debug lines on standard error without -trace: $(grep dwElapsedTime "$scratch/stdout.txt" | head -3)"
# Select All ticks the files the page lists; each of them came back byte for byte equal to
# one of the files put into the disk.
originals=$(md5sum "$fixture"/originals/* "$fixture"/planted.jpg "$fixture"/planted.png | cut -d' ' -f1)
count=0
while IFS= read -r -d '' f; do
  sum=$(md5sum "$f" | cut -d' ' -f1)
  grep -q "$sum" <<<"$originals" || fail "$f differs from every original"
  count=$((count + 1))
done < <(find "$target" -type f -print0)
[ "$count" -ge 2 ] || fail "only $count files recovered"
grep -q "File are to be recovered, recovered $count" "$log" || fail "the log counts other files than $count"
echo "$count files recovered and equal to their originals"

echo OK
