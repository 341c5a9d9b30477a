# Sourced by the test scripts that, under root, run programs as another user: that user may not
# reach the checkout (a clone in root's 0700 home), or nobody sees it at all (a clone under /tmp
# when the test mounts a tmpfs there). In the test's own private mount namespace the folders are
# bound back at their own paths, so every path the build wrote into its programs still holds;
# nothing outside the namespace changes.
#   reach_keep <folder>...  before any mount that would hide them: holds each folder open
#   reach_give <user>        then: each held folder that <user> cannot reach is bound back at its
#                            path, under a tmpfs over the first folder on the way that <user> may
#                            not enter (or in folders made for it where its path is gone)
reach_fds=() reach_paths=()

reach_keep() {
  local p fd
  for p in "$@"; do
    p=$(realpath "$p")
    exec {fd}<"$p"
    reach_fds+=("$fd") reach_paths+=("$p")
  done
}

reach_can() {
  setpriv --reuid="$(id -u "$1")" --regid="$(id -g "$1")" --clear-groups test -x "$2"
}

reach_give() {
  local user=$1 i p d fd part parts
  # Outer folders first: a folder inside one bound back is then reached through it.
  for i in $(for i in "${!reach_paths[@]}"; do echo "${#reach_paths[$i]} $i"; done | sort -n | cut -d' ' -f2); do
    p=${reach_paths[$i]}
    if ! reach_can "$user" "$p"; then
      IFS=/ read -r -a parts <<< "${p#/}"
      d=""
      for part in "${parts[@]}"; do
        d="$d/$part"
        reach_can "$user" "$d" || break
      done
      if [ -d "$d" ]; then mount -t tmpfs -o mode=755 tmpfs "$d"; fi
      (umask 022 && mkdir -p "$p")
      # The held folder itself, not what its path names now.
      mount --no-canonicalize --bind "/proc/self/fd/${reach_fds[$i]}" "$p"
    fi
    fd=${reach_fds[$i]}
    exec {fd}<&-
  done
  reach_fds=() reach_paths=()
}
