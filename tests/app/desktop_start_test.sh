#!/usr/bin/env bash
# The desktop entry's start, "Brulin --administrator", by a user who is not root, with a
# stand-in pkexec first on the PATH that records what it was asked to run:
#  - pkexec runs the loader (the stand-in ends with 0): the user's loader asked for its own
#    absolute path and started nothing itself;
#  - pkexec runs the loader in its own process (the stand-in execs it, as pkexec does), which
#    starts the program and is then sent SIGTERM: the program ends with it, and the user's
#    loader ends too, starting no second program;
#  - pkexec refuses (126), or can show no password prompt (127, "No authentication agent
#    found."): the loader starts the program as the user, the log holds pkexec's status and
#    message, and the Deep Scan device page says in one line why no disk is listed
#    (screenshots, at the usual and at the larger font);
#  - no pkexec at all: the program still starts as the user, and the log says why;
#  - no polkit action names the loader (an empty folder of actions): pkexec is never run, the
#    program starts as the user at once, and the log says why.
# pkexec runs the loader only through the program's polkit action: the runs above have a folder
# of actions (BRULIN_POLKIT_ACTIONS_DIR) holding the installed action for this loader.
# Under root the user is nobody, in a mount namespace whose /sys/block lists one disk that
# only root may open (/dev/loop0, a loop device with a backing file), so the refusal is the
# system's own. There a set-user-ID stand-in for pkexec (tests/tools/setuid_pkexec, on a tmpfs
# of the namespace only) also runs the loader as root, as pkexec does, for the user's loader of
# nobody's: SIGTERM and SIGKILL on the user's loader end root's loader and its program within
# seconds, and root's log says why. Without root the script runs as its own user and checks only what pkexec is
# asked and that the program starts.
#   desktop_start_test.sh <build folder> <x_screenshot> <screenshot folder> <scratch folder> <large-font config>
#                         [<setuid_pkexec>]
set -euo pipefail
PATH=$PATH:/usr/sbin:/sbin # Debian's system tools, which a regular user's login PATH leaves out
build=$(cd "$1" && pwd) shot=$2 shots=$3 scratch=$4 largeFont=$5 suidStandin=${6:-}
rm -rf "$scratch"
mkdir -p "$scratch" "$shots"
scratch=$(cd "$scratch" && pwd) shot=$(realpath "$shot")
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export ASAN_OPTIONS="${ASAN_OPTIONS//detect_leaks=1/detect_leaks=0}"
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v xdotool >/dev/null || fail "xdotool is missing from $PATH (scripts/setup.sh installs it)"
loader=$build/Brulin
[ -x "$loader" ] && [ -x "$build/BrulinUI" ] || fail "no Brulin and BrulinUI in $build"

home=$scratch/home
standin=$scratch/standin
mkdir -p "$home/config" "$home/config-large" "$standin" "$scratch/no-pkexec" "$scratch/actions" "$scratch/no-actions"
# The action as the installation writes it, naming this loader (as it reads its own path).
realLoader=$(realpath "$loader")
sed "s|@BRULIN_INSTALLED_LOADER@|$realLoader|" "$(dirname "$(realpath "$0")")/../../packaging/brulin.policy.in" \
  > "$scratch/actions/org.brulin.pkexec.brulin.policy"
cp -r "$largeFont/gtk-3.0" "$home/config-large/"
cat > "$standin/pkexec" <<'STANDIN'
#!/bin/sh
# Records the command it was asked to run as root, and answers as pkexec would: runs it in its
# own process (PKEXEC_RUN=1), or says PKEXEC_SAY on standard error and ends with PKEXEC_STATUS.
printf '%s\n' "$*" >> "$PKEXEC_RECORD"
[ "${PKEXEC_RUN:-}" = 1 ] && exec "$@"
[ -n "${PKEXEC_SAY:-}" ] && printf '%s\n' "$PKEXEC_SAY" >&2
exit "$PKEXEC_STATUS"
STANDIN
chmod 755 "$standin/pkexec"

denied=no
run_as=()
if [ "$(id -u)" -eq 0 ]; then
  command -v unshare >/dev/null && command -v setpriv >/dev/null || fail "unshare and setpriv are needed under root (searched $PATH)"
  [ -b /dev/loop0 ] || fail "no /dev/loop0 to stand for a disk only root may read"
  # The disk: a loop device with a backing file, as the system lists one.
  mkdir -p "$scratch/sys-block/loop0/loop"
  echo "$scratch/disk.img" > "$scratch/sys-block/loop0/loop/backing_file"
  echo 2048 > "$scratch/sys-block/loop0/size"
  echo 0 > "$scratch/sys-block/loop0/removable"
  chown -R nobody "$home"
  chmod 755 "$scratch"
  denied=yes
  [ -x "$suidStandin" ] || fail "no set-user-ID pkexec stand-in given ($suidStandin)"
  # Root's folders for the loader the stand-in runs, one set per signal tried.
  for sig in TERM KILL; do
    mkdir -p "$scratch/root-$sig/run"
    chmod 700 "$scratch/root-$sig" "$scratch/root-$sig/run"
  done
  mkdir -p "$scratch/suid"
  run_as=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups)
fi

cat > "$scratch/session.sh" <<SESSION
#!/usr/bin/env bash
set -u
export HOME="$home" XDG_STATE_HOME="$home/state" XDG_RUNTIME_DIR="$home/run"
export BRULIN_DESKTOP_START_MARK="$scratch"
log="$home/state/brulin/BrulinLog.log"
export PKEXEC_RECORD="$home/pkexec.txt"
export BRULIN_POLKIT_ACTIONS_DIR="$scratch/actions"
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

# The main programs of this build that this session started and that run now (their pids): they
# have the session's mark in their environment, which no other test's programs carry.
programs() {
  local p
  for p in /proc/[0-9]*; do
    [ "\$(readlink "\$p/exe" 2>/dev/null)" = "$build/BrulinUI" ] &&
      tr '\\0' '\\n' < "\$p/environ" 2>/dev/null | grep -qxF "BRULIN_DESKTOP_START_MARK=$scratch" &&
      echo "\${p#/proc/}"
  done
}

# pkexec runs the loader, which is ended by SIGTERM once its program shows its window.
rm -f "\$PKEXEC_RECORD" "\$log"
PATH="$standin:\$PATH" PKEXEC_RUN=1 "$loader" --administrator > "$home/ended.txt" 2>&1 &
pid=\$!
wait_log "Main window shown." 40
rootLoader=\$(cat "/proc/\$pid/task/\$pid/children" 2>/dev/null | tr -d ' ')
[ -n "\$rootLoader" ] || fail "the stand-in pkexec is not running"
kill -TERM \$rootLoader
for i in \$(seq 1 50); do kill -0 \$pid 2>/dev/null || break; sleep 0.2; done
if kill -0 \$pid 2>/dev/null; then
  echo "ended: the user's loader went on" >> "$home/results.txt"
  stop
else
  wait \$pid
  echo "ended: \$?" >> "$home/results.txt"
fi
echo "ended: windows shown \$(grep -c "Main window shown." "\$log")" >> "$home/results.txt"
echo "ended: programs left [\$(programs | tr '\\n' ' ')]" >> "$home/results.txt"

# A set-user-ID pkexec (under root only): root's loader and its program are root's, and the
# user's loader, nobody's, can signal neither; ending it ends both all the same.
gone() { ! [ -e "/proc/\$1" ] || [ "\$(sed 's/.*) //' "/proc/\$1/stat" 2>/dev/null | cut -c1)" = Z ]; }
for sig in TERM KILL; do
  [ -x "$scratch/suid/\$sig/pkexec" ] || continue
  PATH="$scratch/suid/\$sig:\$PATH" "$loader" --administrator > "$home/suid-\$sig.txt" 2>&1 &
  pid=\$!
  rootLoader="" program=""
  for i in \$(seq 1 200); do
    rootLoader=\$(cat "/proc/\$pid/task/\$pid/children" 2>/dev/null | tr -d ' ')
    [ -n "\$rootLoader" ] && program=\$(cat "/proc/\$rootLoader/task/\$rootLoader/children" 2>/dev/null | tr -d ' ')
    [ -n "\$program" ] && xdotool search --onlyvisible --name "^Oxtavo Data Recovery\$" > /dev/null 2>&1 && break
    kill -0 \$pid 2>/dev/null || break
    sleep 0.2
  done
  [ -n "\$program" ] || fail "set-user-ID pkexec, SIG\$sig: root's loader started no program (\$(cat "$home/suid-\$sig.txt"))"
  echo "suid \$sig: root's loader runs as \$(stat -c %u "/proc/\$rootLoader"), its program as \$(stat -c %u "/proc/\$program")" >> "$home/results.txt"
  kill -\$sig \$pid
  wait \$pid 2>/dev/null
  for i in \$(seq 1 50); do gone \$rootLoader && gone \$program && break; sleep 0.2; done
  gone \$rootLoader && gone \$program && echo "suid \$sig: both ended" >> "$home/results.txt"
done

# pkexec refuses, or can show no password prompt: the program starts as the user; the Deep
# Scan device page (its mode button is the middle one of the mode page).
for why in refused no-agent; do
  status=126 say="Error executing command as another user: Request dismissed."
  [ \$why = no-agent ] && status=127 say="Error executing command as another user: No authentication agent found."
  for font in usual larger; do
    rm -f "\$PKEXEC_RECORD" "\$log"
    config="$home/config"
    [ \$font = larger ] && config="$home/config-large"
    XDG_CONFIG_HOME=\$config PATH="$standin:\$PATH" PKEXEC_STATUS=\$status PKEXEC_SAY="\$say" \
      "$loader" --administrator > "$home/\$why-\$font.txt" 2>&1 &
    pid=\$!
    wait_log "Main window shown." 40
    win=\$(xdotool search --onlyvisible --name "^Oxtavo Data Recovery\$" 2>/dev/null | head -1)
    [ -n "\$win" ] || fail "no main window"
    xdotool mousemove --window \$win 477 351 click 1
    wait_log "Performing Complete File Recovery" 20
    sleep 1.5
    "$shot" "$home/device-page-\$why-\$font.png" || fail "no screenshot"
    eval "\$(xdotool getwindowgeometry --shell \$win)"
    echo "\$X \$Y" > "$home/window-\$why-\$font.txt"
    echo "\$why \$font: \$(cat "\$PKEXEC_RECORD" 2>/dev/null)" >> "$home/results.txt"
    grep -qF "Start as administrator: pkexec ended with \$status (\$why): \$say; going on as the user." "\$log" &&
      echo "\$why \$font: status and message logged" >> "$home/results.txt"
    grep -qF "Running as the user: the start as administrator fell back (\$why)." "\$log" &&
      echo "\$why \$font: the program was told" >> "$home/results.txt"
    stop
  done
done

# No pkexec at all.
rm -f "\$log"
PATH="$scratch/no-pkexec" "$loader" --administrator > "$home/missing.txt" 2>&1 &
pid=\$!
wait_log "Main window shown." 40
echo "missing: window shown" >> "$home/results.txt"
grep -qF "Start as administrator: pkexec cannot be run (No such file or directory); going on as the user." "\$log" &&
  grep -qF "fell back (no-pkexec)." "\$log" && echo "missing: logged and told" >> "$home/results.txt"
stop

# No polkit action names the loader: pkexec is never asked.
rm -f "\$PKEXEC_RECORD" "\$log"
BRULIN_POLKIT_ACTIONS_DIR="$scratch/no-actions" PATH="$standin:\$PATH" PKEXEC_RUN=1 "$loader" --administrator \
  > "$home/no-action.txt" 2>&1 &
pid=\$!
wait_log "Main window shown." 40
echo "no action: window shown" >> "$home/results.txt"
[ -e "\$PKEXEC_RECORD" ] && echo "no action: pkexec ran" >> "$home/results.txt"
grep -qF "Start as administrator: no polkit action names $realLoader: $scratch/no-actions/org.brulin.pkexec.brulin.policy does not exist; the loader runs from its build folder; pkexec was not run (no password asked), going on as the user." "\$log" &&
  grep -qF "fell back (no-action)." "\$log" && echo "no action: logged and told" >> "$home/results.txt"
stop
SESSION
chmod 755 "$scratch/session.sh"

session=(xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash "$scratch/session.sh")
if [ $denied = yes ]; then
  # nobody reaches the build folder wherever it lies (reach.sh).
  timeout -k 10 240 unshare -m --propagation private \
    bash -c 'set -eu; . "$1"; reach_keep "$2" "$3" "$4"; reach_give nobody; mount --bind "$5" /sys/block
      # The set-user-ID stand-in lives on a tmpfs of this namespace only, each copy with the one
      # program it runs and root'"'"'s folders for it.
      mount -t tmpfs -o mode=755 tmpfs "$4/suid"
      for sig in TERM KILL; do
        mkdir -m 755 "$4/suid/$sig"
        install -m 4755 -o root "$6" "$4/suid/$sig/pkexec"
        printf "%s\n%s\n" "$7" "$4/root-$sig" > "$4/suid/$sig/setuid_pkexec.conf"
        chmod 644 "$4/suid/$sig/setuid_pkexec.conf"
      done
      shift 7; exec "$@"' \
    mount "$(dirname "$(realpath "$0")")/../support/reach.sh" "$build" "$(dirname "$shot")" "$scratch" "$scratch/sys-block" \
    "$suidStandin" "$realLoader" "${run_as[@]}" "${session[@]}" ||
    fail "the session failed (status $?)"
else
  timeout -k 10 240 "${session[@]}" || fail "the session failed (status $?)"
fi

results=$home/results.txt
[ -f "$results" ] || fail "the session left no results"
cat "$results"
grep -qx "granted: 0" "$results" || fail "the loader did not end with pkexec's status ($(cat "$home/granted.txt"))"
grep -q "granted: started a program" "$results" && fail "the loader started the program itself although pkexec ran it"
grep -qx "ended: 143" "$results" || fail "the user's loader did not end with the root loader's signal"
grep -qx "ended: windows shown 1" "$results" || fail "a second main program was started"
grep -qx "ended: programs left \[\]" "$results" || fail "a main program outlived its loader"
if [ $denied = yes ]; then
  for sig in TERM KILL; do
    grep -qx "suid $sig: root's loader runs as 0, its program as 0" "$results" ||
      fail "set-user-ID pkexec, SIG$sig: root's loader and program did not run as root"
    grep -qx "suid $sig: both ended" "$results" ||
      fail "set-user-ID pkexec, SIG$sig on the user's loader: root's loader or its program went on"
    grep -qF "The loader that started this one has ended: the program was ended with it (signal 15)." \
      "$scratch/root-$sig/state/brulin/BrulinLog.log" ||
      fail "set-user-ID pkexec, SIG$sig: root's log does not say why it ended ($(cat "$scratch/root-$sig/state/brulin/BrulinLog.log" 2>&1))"
  done
fi
for why in refused no-agent; do
  for font in usual larger; do
    grep -qx "$why $font: $loader" "$results" || fail "$why, $font font: the loader did not ask pkexec to run $loader"
    grep -qx "$why $font: status and message logged" "$results" || fail "$why, $font font: pkexec's status and message are not in the log"
    grep -qx "$why $font: the program was told" "$results" || fail "$why, $font font: the program was not told why"
    [ -s "$home/device-page-$why-$font.png" ] || fail "$why, $font font: no screenshot"
    cp "$home/device-page-$why-$font.png" "$shots/desktop_start_device_page_${why}_$font.png"
  done
done
grep -qx "missing: window shown" "$results" || fail "without pkexec the program did not start"
grep -qx "missing: logged and told" "$results" || fail "without pkexec the log or the program does not say why"
grep -qx "no action: window shown" "$results" || fail "without a polkit action the program did not start"
grep -qx "no action: pkexec ran" "$results" && fail "pkexec was run although no polkit action names the loader"
grep -qx "no action: logged and told" "$results" || fail "without a polkit action the log or the program does not say why"

# The device page's line: the empty list is white, so its text is the only dark in the band of
# its first line (175..215 pixels below the frame's top, from 60 pixels right of its left edge;
# the band below it stays white).
if [ $denied = yes ]; then
  for why in refused no-agent; do
    for font in usual larger; do
      read -r x y < "$home/window-$why-$font.txt"
      dark=$(convert "$home/device-page-$why-$font.png" -crop 840x40+$((x + 60))+$((y + 175)) \
        -colorspace Gray -fx "(p < 0.4) ? 1 : 0" -format "%[fx:mean]" info:)
      below=$(convert "$home/device-page-$why-$font.png" -crop 840x40+$((x + 60))+$((y + 230)) \
        -colorspace Gray -fx "(p < 0.4) ? 1 : 0" -format "%[fx:mean]" info:)
      echo "$why, $font font: dark share in the list's first line: $dark, under it: $below"
      awk -v v="$dark" -v b="$below" 'BEGIN { exit !(v > 0.02 && b < 0.001) }' ||
        fail "$why, $font font: the device page shows no line about rights"
    done
  done
else
  echo "not root: the refused-disk line is left to the window tests"
fi
echo OK
