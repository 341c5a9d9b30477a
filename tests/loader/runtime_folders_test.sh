#!/usr/bin/env bash
# Starts of the loader without XDG_RUNTIME_DIR (as pkexec and sudo leave it), each on its own
# virtual X server: every start reaches the main window, keeps its lock in the runtime folder it
# should, and a second start of the same user is told the program is running. Under root the
# starts run in a mount and network namespace of their own (private /tmp, /run and /dev/shm, so
# no other test and nothing of the machine is touched), where another user (uid 4242) has made
# /tmp/brulin-0 and /tmp/brulin-<nobody's uid> first:
#  - root: /run/brulin/;
#  - nobody without /run/user/<uid>: the state folder's run-<host>/;
#  - nobody with its /run/user/<uid>: /run/user/<uid>/brulin/;
#  - root with a symlink to the other user's folder at /run/brulin: refused and named in the
#    log, the state folder's run-<host>/ used;
#  - nobody with a home on exFAT (where no FIFO can be made): a mkdtemp folder in /tmp, which
#    the second start finds through the state folder.
# Without root only the user's own start without a session is checked.
#   runtime_folders_test.sh <build folder> <scratch folder>
set -euo pipefail
PATH=$PATH:/usr/sbin:/sbin # Debian's system tools, which a regular user's login PATH leaves out
fail() { echo "FAIL: $*" >&2; exit 1; }
other=4242

if [ "${1:-}" = session ]; then
  # One start, run by xvfb-run as the user: session <loader> <home> <expected runtime folder or a
  # prefix ending in '*'> <result file>
  loader=$2 home=$3 expected=$4 results=$5
  log=$home/.local/state/brulin/BrulinLog.log
  run=(env -i PATH="$PATH" HOME="$home" ASAN_OPTIONS="${ASAN_OPTIONS:-}" LSAN_OPTIONS="${LSAN_OPTIONS:-}"
       UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" NO_AT_BRIDGE=1 GTK_A11Y=none)
  "${run[@]}" DISPLAY="$DISPLAY" XAUTHORITY="${XAUTHORITY:-}" "$loader" > "$home/first.txt" 2>&1 &
  pid=$!
  stop() {
    local program
    program=$(cat "/proc/$pid/task/$pid/children" 2>/dev/null | tr -d ' ')
    [ -n "$program" ] && kill -TERM $program 2>/dev/null
    wait $pid 2>/dev/null
  }
  shown=no
  for i in $(seq 1 200); do
    grep -q "Main window shown." "$log" 2>/dev/null && { shown=yes; break; }
    kill -0 $pid 2>/dev/null || break
    sleep 0.2
  done
  echo "shown: $shown" > "$results"
  # The folder the loader holds its lock in.
  lockName="My_Mutex_610044_cd_NEW45634562.lock"
  held=$(for f in /proc/$pid/fd/*; do readlink "$f"; done 2>/dev/null | grep "/$lockName\$" | head -1 || true)
  echo "folder: ${held%"$lockName"}" >> "$results"
  # A second start of the same user (no display: its message goes to standard error).
  status=0
  timeout -k 5 60 "${run[@]}" "$loader" > "$home/second.txt" 2>&1 || status=$?
  echo "second: $status $(tr '\n' ' ' < "$home/second.txt")" >> "$results"
  stop
  cp "$log" "$home/log.txt" 2>/dev/null || true
  exit 0
fi

stage=outside
[ "${1:-}" = inside ] && { stage=inside; shift; }
build=$(realpath "$1") scratch=$2
loader=$build/Brulin
[ -x "$loader" ] && [ -x "$build/BrulinUI" ] || fail "no Brulin and BrulinUI in $build"
host=$(hostname)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export ASAN_OPTIONS="${ASAN_OPTIONS//detect_leaks=1/detect_leaks=0}"

# One start: start <label> <user: root|nobody|self> <home> <expected folder> [refused line]
start() {
  local label=$1 user=$2 home=$3 expected=$4 refused=${5:-}
  local results=$home/results.txt as=()
  [ "$user" = nobody ] && as=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups)
  timeout -k 10 150 "${as[@]}" xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    bash "$self" session "$loader" "$home" "$expected" "$results" || fail "$label: the session failed (status $?)"
  cat "$results" | sed "s/^/$label: /"
  grep -qx "shown: yes" "$results" ||
    fail "$label: the program did not reach its main window ($(cat "$home/first.txt" 2>/dev/null))"
  local folder
  folder=$(sed -n 's/^folder: //p' "$results")
  case "$expected" in
    *'*') [[ "$folder" == ${expected%'*'}* ]] || fail "$label: lock in '$folder', not in ${expected%'*'}*" ;;
    *) [ "$folder" = "$expected" ] || fail "$label: lock in '$folder', not in $expected" ;;
  esac
  grep -q "^second: 1 .*Brulin: Oxtavo Data Recovery has been running!" "$results" ||
    fail "$label: the second start did not find the running copy"
  local log=$home/log.txt
  if [ -n "$refused" ]; then
    grep -qxF "Runtime folder refused: $refused"$'\r' "$log" || fail "$label: the log does not name the refused folder"
    grep -qxF "Runtime folder used: $folder"$'\r' "$log" || fail "$label: the log does not name the folder used"
  else
    grep -q "^Runtime folder" "$log" && fail "$label: a folder was refused: $(grep "^Runtime folder" "$log")"
  fi
  return 0
}

# A home folder for `user`.
new_home() {
  local home=$scratch/home-$1
  mkdir -p "$home"
  [ "$2" = nobody ] && chown nobody:"$(id -gn nobody)" "$home"
  echo "$home"
}

# What the other user made stays as it was: theirs, and empty.
untouched() {
  for d in "$@"; do
    [ "$(stat -c %u "$d")" = $other ] && [ -z "$(ls -A "$d")" ] || fail "$d was changed"
  done
}

if [ $stage = outside ] && [ "$(id -u)" -ne 0 ]; then
  rm -rf "$scratch"; mkdir -p "$scratch"; scratch=$(realpath "$scratch") self=$(realpath "$0")
  home=$(new_home self self)
  expected=$home/.local/state/brulin/run-$host/
  [ -d "/run/user/$(id -u)" ] && expected=/run/user/$(id -u)/brulin/
  start self self "$home" "$expected"
  echo "OK (not root: only the user's own start checked)"
  exit 0
fi

if [ $stage = outside ]; then
  command -v unshare >/dev/null && command -v setpriv >/dev/null || fail "unshare and setpriv are needed under root"
  rm -rf "$scratch"; mkdir -p "$scratch"
  exec timeout -k 10 280 unshare -m -n --propagation private bash "$(realpath "$0")" inside "$build" "$(realpath "$scratch")"
fi

# Inside the namespace.
self=$(realpath "$0")
chmod 755 "$scratch"
. "$(dirname "$self")/../support/reach.sh" && reach_keep "$build" "$scratch" "$(dirname "$self")"
mount -t tmpfs -o mode=1777 tmpfs /tmp
mount -t tmpfs -o mode=755 tmpfs /run
mount -t tmpfs -o mode=1777 tmpfs /dev/shm
reach_give nobody # the build, this script and its scratch, wherever they lie (reach.sh)
mkdir -m 1777 /tmp/.X11-unix
nobody=$(id -u nobody)
as_other=(setpriv --reuid=$other --regid=$other --clear-groups)
"${as_other[@]}" mkdir -m 777 /tmp/brulin-0 "/tmp/brulin-$nobody"
[ "$(stat -c %u /tmp/brulin-0)" = $other ] || fail "the other user's folder was not made"

home=$(new_home root root)
start root root "$home" /run/brulin/
untouched /tmp/brulin-0

home=$(new_home nobody nobody)
start nobody nobody "$home" "$home/.local/state/brulin/run-$host/"
untouched "/tmp/brulin-$nobody"

mkdir -p "/run/user/$nobody" && chown nobody "/run/user/$nobody" && chmod 700 "/run/user/$nobody"
home=$(new_home nobody-run-user nobody)
start nobody-run-user nobody "$home" "/run/user/$nobody/brulin/"
rm -rf "/run/user/$nobody"

rm -rf /run/brulin
ln -s /tmp/brulin-0 /run/brulin
home=$(new_home root-symlink root)
start root-symlink root "$home" "$home/.local/state/brulin/run-$host/" "/run/brulin: not a folder of this user"
untouched /tmp/brulin-0
rm /run/brulin

# A home on exFAT (through FUSE, as a USB stick is mounted): no FIFO can be made there.
command -v mkfs.exfat >/dev/null && command -v mount.exfat-fuse >/dev/null ||
  fail "mkfs.exfat or mount.exfat-fuse is missing (scripts/setup.sh installs exfatprogs and exfat-fuse)"
truncate -s 32M "$scratch/exfat-home.img"
mkfs.exfat "$scratch/exfat-home.img" > /dev/null
home=$scratch/home-exfat
mkdir -p "$home"
loop=$(losetup -f --show "$scratch/exfat-home.img")
trap 'umount "$home" 2>/dev/null; losetup -d "$loop" 2>/dev/null || true' EXIT
mount.exfat-fuse -o uid="$nobody",gid="$(id -g nobody)",umask=077 "$loop" "$home"
start nobody-exfat-home nobody "$home" "/tmp/brulin-$nobody-*" \
  "$home/.local/state/brulin/run-$host: no FIFO can be made there (Input/output error)"
grep -q "^/tmp/brulin-$nobody-" "$home/.local/state/brulin/run-$host.tmpdir" || fail "the mkdtemp folder was not remembered"
ls -A "$home/.local/state/brulin/run-$host" | grep -q . && fail "the probe left a file in the refused folder"
untouched "/tmp/brulin-$nobody"
echo OK
