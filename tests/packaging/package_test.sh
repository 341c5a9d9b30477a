#!/usr/bin/env bash
# The Debian package as a user gets it: cpack -G DEB makes it from the build folder, its
# dependencies name the Debian packages of the libraries the programs link, lintian finds no
# error in it and every program and library hardened, desktop-file-validate finds nothing to say
# of its desktop entry, dpkg-deb -x unpacks it into a scratch root, and the installed loader
# <root>/usr/bin/Brulin starts the installed main program on a virtual X server, which finds its
# skin images and help pages in <root>/usr/share/brulin/ and shows its first page (screenshot).
# cmake --install into another prefix gives programs that find their libraries too.
#   package_test.sh <build folder> <scratch folder> <x_screenshot> <screenshot folder> <sanitized ON|OFF>
set -euo pipefail
PATH=$PATH:/usr/sbin:/sbin # Debian's system tools, which a regular user's login PATH leaves out
build=$(cd "$1" && pwd) scratch=$2 shot=$3 shots=$4 sanitized=$5
rm -rf "$scratch"
mkdir -p "$scratch" "$shots"
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" > "$scratch/cpack.txt" 2>&1) ||
  { cat "$scratch/cpack.txt"; fail "cpack failed"; }
deb=$(ls "$scratch"/out/brulin_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { cat "$scratch/cpack.txt"; fail "no package made"; }
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
names=" $(sed 's/ *([^)]*)//g; s/,/ /g' <<< "$depends" | tr -s ' ') "
for p in libc6 libstdc++6 libwxgtk3.2-1 libwxbase3.2-1 libboost-regex1.74.0-icu72 zlib1g libbz2-1.0 liblzma5 libcurl4 xdg-utils; do
  [[ "$names" == *" $p "* ]] || fail "the package does not depend on $p"
done

# Debian's rules, as lintian checks them down to its informational and pedantic tags: no error
# (the rest is shown), and programs and libraries built hardened: no hardening tag at all. The
# sanitizer build alone leaves out fortify (AddressSanitizer checks those calls itself).
command -v lintian > /dev/null || fail "lintian is not in $PATH (scripts/setup.sh installs it)"
lint_status=0
lint=$(lintian -I --pedantic "$deb" 2>&1) || lint_status=$?
echo "lintian: ${lint:-no tag}"
grep -q "^E: " <<< "$lint" && fail "lintian finds errors in the package"
[ "$lint_status" = 0 ] || fail "lintian ended with $lint_status"
hardening=$(grep -E "^[A-Z]: [^ ]+: hardening-" <<< "$lint" || true)
[ "$sanitized" = ON ] && hardening=$(grep -v ": hardening-no-fortify-functions " <<< "$hardening" || true)
[ -z "$hardening" ] || fail "programs or libraries of the package are not hardened: $hardening"
# The package's lintian overrides pass over no other hardening tag than fortify on the loader and
# the update library (none of the calls lintian counts is checked at run time in them;
# packaging/lintian-overrides says why).
overridden=$(lintian -I --pedantic --show-overrides "$deb" 2>&1 | grep -E "^O: [^ ]+: hardening-" || true)
unexpected=$(grep -Ev ": hardening-no-fortify-functions \[usr/(bin/Brulin|lib/brulin/libPennat\.so)\]$" <<< "$overridden" || true)
[ -z "$unexpected" ] || fail "the lintian overrides hide hardening tags: $unexpected"
# The private libraries need no ldconfig: no maintainer script runs it, no trigger asks for it.
control=$(dpkg-deb -I "$deb")
for script in postinst postrm triggers; do
  [[ "$control" == *" $script "* ]] && fail "the package has a $script: $control"
done

root=$scratch/root
dpkg-deb -x "$deb" "$root"
for f in usr/bin/Brulin usr/bin/BrulinUI usr/lib/brulin/libPennat.so usr/lib/brulin/libOmbrel.so \
         usr/share/brulin/info/mainbg.png usr/share/brulin/info/close-button.bmp usr/share/brulin/help/index.html \
         usr/share/applications/brulin.desktop usr/share/icons/hicolor/48x48/apps/brulin.png \
         usr/share/doc/brulin/copyright usr/share/doc/brulin/changelog.gz \
         usr/share/man/man1/Brulin.1.gz usr/share/man/man1/BrulinUI.1.gz; do
  [ -e "$root/$f" ] || fail "the package lacks /$f"
done
grep -q "^Exec=Brulin --administrator$" "$root/usr/share/applications/brulin.desktop" ||
  fail "desktop entry does not start Brulin asking for administrator rights"
# The polkit action pkexec runs the loader through: well-formed, naming the installed loader,
# keeping the display.
policy=$root/usr/share/polkit-1/actions/org.brulin.pkexec.brulin.policy
[ -f "$policy" ] || fail "the package lacks the polkit action"
python3 - "$policy" <<'PY' || fail "the polkit action is not as pkexec needs it"
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
assert root.tag == "policyconfig", root.tag
actions = root.findall("action")
assert [a.get("id") for a in actions] == ["org.brulin.pkexec.brulin"], actions
keys = {n.get("key"): (n.text or "").strip() for n in actions[0].findall("annotate")}
assert keys.get("org.freedesktop.policykit.exec.path") == "/usr/bin/Brulin", keys
assert keys.get("org.freedesktop.policykit.exec.allow_gui") == "true", keys
assert actions[0].findtext("defaults/allow_active", "").strip() in ("auth_admin", "auth_admin_keep")
PY
libs_in_usr_lib=$(find "$root/usr/lib" -maxdepth 1 -name "*.so*")
[ -z "$libs_in_usr_lib" ] || fail "libraries in /usr/lib itself: $libs_in_usr_lib"
# The changelog's latest entry is this version.
version=$(dpkg-deb -f "$deb" Version)
head=$(zcat "$root/usr/share/doc/brulin/changelog.gz" | sed -n 1p)
[[ "$head" == "brulin ($version) "* ]] || fail "the changelog starts with \"$head\", not version $version"
# The manual page names both programs and says where the log is.
page=$(MANWIDTH=100 man -l "$root/usr/share/man/man1/BrulinUI.1.gz" 2>&1 | col -b)
[[ "$page" == *"Brulin, BrulinUI"* && "$page" == *'$XDG_STATE_HOME/brulin/'* ]] ||
  fail "the manual page does not read right: $page"
grep -q "^Icon=brulin$" "$root/usr/share/applications/brulin.desktop" || fail "desktop entry names no icon"
# The desktop entry as the freedesktop rules have it: desktop-file-validate has nothing to say,
# not even a hint (two main categories would list the program twice in a menu).
command -v desktop-file-validate > /dev/null ||
  fail "desktop-file-validate is not in $PATH (scripts/setup.sh installs desktop-file-utils)"
validate_status=0
validate=$(desktop-file-validate "$root/usr/share/applications/brulin.desktop" 2>&1) || validate_status=$?
[ -z "$validate" ] && [ "$validate_status" = 0 ] ||
  fail "desktop-file-validate finds fault with the desktop entry ($validate_status): $validate"
# Nothing of the build folder is left in the programs: they find their library beside them.
# (Outputs are read whole: grep -q on a pipe would cut the writer short under pipefail.)
for b in Brulin BrulinUI; do
  dyn=$(readelf -d "$root/usr/bin/$b")
  [[ "$dyn" == *"$build"* ]] && fail "$b still points into the build folder"
  [[ "$dyn" == *'(RUNPATH)'*'[$ORIGIN/../lib/brulin]'* ]] || fail "$b has no \$ORIGIN/../lib/brulin run path: $dyn"
  libs=$(cd / && env -u LD_LIBRARY_PATH ldd "$root/usr/bin/$b")
  [[ "$libs" == *"not found"* ]] && fail "$b misses a library: $libs"
  [[ "$libs" == *"libOmbrel.so => "*"/root/usr/bin/../lib/brulin/libOmbrel.so "* ]] || fail "$b does not find libOmbrel.so in /usr/lib/brulin: $libs"
done
# Installed elsewhere (cmake --install, here under a DESTDIR), the programs find their libraries
# the same way.
local_root=$scratch/local
DESTDIR=$local_root cmake --install "$build" --prefix /usr/local > "$scratch/install.txt" 2>&1 ||
  { cat "$scratch/install.txt"; fail "cmake --install failed"; }
for b in Brulin BrulinUI; do
  libs=$(cd / && env -u LD_LIBRARY_PATH ldd "$local_root/usr/local/bin/$b")
  [[ "$libs" == *"libOmbrel.so => "*"/local/usr/local/bin/../lib/brulin/libOmbrel.so "* ]] ||
    fail "the $b of cmake --install does not find its library: $libs"
done
[ -e "$local_root/usr/local/lib/brulin/libPennat.so" ] || fail "cmake --install put no libPennat.so in lib/brulin"
# Every thread of the main program, the toolkit's too, comes through its own pthread_create.
symbols=$(nm -D --defined-only "$root/usr/bin/BrulinUI")
grep -Eq " [TW] pthread_create$" <<< "$symbols" || fail "BrulinUI exports no pthread_create"
if [ "$sanitized" = OFF ]; then
  grep -q "__asan_\|__ubsan_" <<< "$symbols" && fail "the optimised program carries a sanitizer runtime"
  # Built with fortify: the loader, the main program and the log library have calls glibc checks
  # at run time.
  for f in usr/bin/Brulin usr/bin/BrulinUI usr/lib/brulin/libOmbrel.so; do
    checked=$(nm -D --undefined-only "$root/$f")
    grep -Eq " U __[a-z_]+_chk(@|$)" <<< "$checked" || fail "/$f calls no fortified function"
  done
  libs=$(ldd "$root/usr/bin/BrulinUI")
  grep -q "libasan\|libubsan\|clang_rt" <<< "$libs" && fail "the optimised program links a sanitizer runtime"
fi

# The installed loader starts the installed program, with the user's folders in the scratch folder.
home=$scratch/home
mkdir -p "$home"
log=$home/state/brulin/BrulinLog.log
cat > "$scratch/session.sh" <<SESSION
#!/usr/bin/env bash
export HOME="$home" XDG_STATE_HOME="$home/state" XDG_RUNTIME_DIR="$home/run" XDG_CONFIG_HOME="$home/config"
export ASAN_OPTIONS=detect_leaks=0
"$root/usr/bin/Brulin" > "$scratch/loader.txt" 2>&1 &
loader=\$!
for i in \$(seq 1 150); do
  grep -q "Main window shown." "$log" 2>/dev/null && break
  kill -0 \$loader 2>/dev/null || break
  sleep 0.2
done
sleep 1.5
"$shot" "$scratch/screen.png" || true
program=\$(cat "/proc/\$loader/task/\$loader/children" 2>/dev/null | tr -d ' ')
[ -n "\$program" ] && tr '\0' ' ' < "/proc/\$program/cmdline" > "$scratch/program.txt"
[ -n "\$program" ] && kill -TERM \$program
wait \$loader
echo \$? > "$scratch/loader-status.txt"
SESSION
timeout -k 10 120 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash "$scratch/session.sh" ||
  fail "the session did not end in time"
[ -f "$log" ] || fail "no log ($(cat "$scratch/loader.txt"))"
grep -q "Main window shown." "$log" || { cat "$log"; fail "the installed program showed no window"; }
grep -q "^Module Directory - $root/usr/bin/" "$log" || fail "the program did not run from $root/usr/bin"
grep -q "BrulinUI -pro" "$scratch/program.txt" || fail "the loader's child was not the installed BrulinUI"
[ "$(cat "$scratch/loader-status.txt")" = 0 ] || fail "the loader ended with $(cat "$scratch/loader-status.txt")"
[ -s "$scratch/screen.png" ] || fail "no screenshot"
cp "$scratch/screen.png" "$shots/installed_first_page.png"
# The caption band is painted from info/mainbg.png (blue); without the skin it would not be.
blue=$(convert "$scratch/screen.png" -crop 900x20+180+175 -fx "(b>0.45 && b-r>0.2) ? 1 : 0" -format "%[fx:mean]" info:)
echo "caption pixels in the skin's blue: $blue"
awk -v v="$blue" 'BEGIN { exit !(v > 0.5) }' || fail "the caption is not painted from the installed skin images"
echo OK
