#!/usr/bin/env bash
# The Debian package: builds it with cpack in a build directory of its own, checks its files and
# control fields, runs lintian, and runs the packaged program from an unpacked copy.
#   tests/package/test_package.sh [BUILD_DIR]      (default: build-package)
# Needs dpkg-dev, file, lintian, man-db, desktop-file-utils and xvfb (scripts/test installs them).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build-package}

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Optimized as the main build, without the debug information that stripping would drop anyway
# (it takes most of the compile time). Only what the package holds is built: cpack would build
# every target (the tools and benchmarks too) before installing, unless told not to.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DBUILD_TESTING=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build" -j2 --target quietglass qg_packaging_texts >/dev/null
rm -f "$build"/quietglass_*.deb
(cd "$build" && cpack -G DEB) >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; exit 1; }
deb=$(ls "$build"/quietglass_*.deb)
# One version everywhere: the about dialog's.
version=$(sed -n 's/.*"Quietglass v\([0-9.]*\)".*/\1/p' setup/frm_setup.cpp)

passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok   $what"
    passed=$((passed + 1))
  else
    echo "FAIL $what"
    failed=$((failed + 1))
  fi
}
# Compares its standard input with the first argument; shows both when they differ.
same_as() {
  local got
  got=$(cat)
  [ "$got" = "$1" ] && return
  diff <(echo "$1") <(echo "$got") | sed 's/^/       /'
  return 1
}

# Every file, with its mode and owner; the folders follow from them.
files() {
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6 ($7 == "" ? "" : " " $7 " " $8)}'
}
check "the package holds these files, owned by root" same_as "$(cat <<'LIST'
-rwxr-xr-x root/root ./usr/bin/quietglass
lrwxrwxrwx root/root ./usr/libexec/xscreensaver/quietglass -> ../../bin/quietglass
-rw-r--r-- root/root ./usr/share/applications/screensavers/quietglass.desktop
-rw-r--r-- root/root ./usr/share/doc/quietglass/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/quietglass/copyright
-rw-r--r-- root/root ./usr/share/man/man6/quietglass.6.gz
-rw-r--r-- root/root ./usr/share/quietglass/quietglass-idle.desktop
-rw-r--r-- root/root ./usr/share/xscreensaver/config/quietglass.xml
LIST
)" < <(files | sort -k3)

field() { dpkg-deb -f "$deb" "$1"; }
check "Package, Version, Architecture, Section, Priority" same_as \
  "quietglass $version $(dpkg --print-architecture) x11 optional" \
  < <(echo "$(field Package) $(field Version) $(field Architecture) $(field Section) $(field Priority)")
# Computed by dpkg-shlibdeps: the libraries the program links, with versions where they matter.
depends=$(field Depends)
depends_on_x() { [[ "$depends" =~ (^|, )libc6\ \(\>=\ [0-9.]+\) && "$depends" =~ (^|, )libx11-6(,|$) ]]; }
check "Depends is computed: $depends" depends_on_x
maintainer=$(field Maintainer)
check "Maintainer is a name and an address: $maintainer" \
  grep -Eq '^[^<>]+ <[^@<> ]+@[^@<> ]+\.[^@<> ]+>$' <<<"$maintainer"
# The program counted once, not once more for xscreensaver's link to it.
program_kib=$(dpkg-deb -c "$deb" | awk '$6 == "./usr/bin/quietglass" {print int(($3 + 1023) / 1024)}')
installed_size=$(field Installed-Size)
size_is_real() { ((installed_size >= program_kib && installed_size < program_kib + 32)); }
check "Installed-Size $installed_size KiB counts the $program_kib KiB program once" size_is_real
description=$(field Description)
synopsis_and_text() { [ -n "${description%%$'\n'*}" ] && [ "$(wc -l <<<"$description")" -ge 3 ]; }
check "Description has a synopsis and a longer text" synopsis_and_text

lint() {
  # Root is where this runs on a fresh machine; lintian only warns about that on stderr.
  lintian --fail-on error,warning "$deb" >"$work/lintian" 2>/dev/null
  local status=$?
  sed 's/^/       /' "$work/lintian"
  return $status
}
check "lintian reports no error and no warning" lint

root="$work/root"
dpkg-deb -x "$deb" "$root"
program="$root/usr/bin/quietglass"
licences() {
  grep -q "^License: Expat" "$root/usr/share/doc/quietglass/copyright" &&
    grep -q "Permission is hereby granted" "$root/usr/share/doc/quietglass/copyright" &&
    grep -q "SIL OPEN FONT LICENSE Version 1.1" "$root/usr/share/doc/quietglass/copyright"
}
check "copyright carries the program's and the fonts' licence texts" licences
manual() {
  local warnings
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man6/quietglass.6.gz" \
    2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "$warnings" | sed 's/^/       /'; return 1; }
}
check "the manual page renders without a warning" manual
xscreensaver_entry() {
  python3 - "$root/usr/share/xscreensaver/config/quietglass.xml" <<'PY'
import sys
import xml.etree.ElementTree as ET
saver = ET.parse(sys.argv[1]).getroot()
sys.exit(saver.tag != "screensaver" or saver.get("name") != "quietglass" or
         saver.find("command").get("arg") != "--root")
PY
}
check "xscreensaver's entry names quietglass --root" xscreensaver_entry
# An entry is valid (hints allowed: a screen saver's category is not a menu's) and runs this.
desktop_entry() {
  local file="$root/$1" exec=$2 problems
  problems=$(desktop-file-validate "$file" 2>&1 | grep -v ': hint: ') || true
  [ -z "$problems" ] && grep -qx "Exec=$exec" "$file" ||
    { echo "       ${problems:-no Exec=$exec}"; return 1; }
}
check "MATE's screen saver entry is valid and runs quietglass --root" \
  desktop_entry usr/share/applications/screensavers/quietglass.desktop "quietglass --root"
check "the idle watcher's autostart entry is valid and runs quietglass --idle 4m" \
  desktop_entry usr/share/quietglass/quietglass-idle.desktop "quietglass --idle 4m"

# The packaged program itself, without any display or compositor of the caller's.
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QUIETGLASS_HOST "$@"; }
no_display() {
  local status=0
  run "$program" /s >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq 1 ] && [ "$(wc -l <"$work/err")" -eq 1 ] && [ ! -s "$work/out" ] ||
    { echo "       status $status, stderr: $(cat "$work/err")"; return 1; }
}
check "/s without a display prints one line and ends with status 1" no_display
# --help, -h and --version print on stdout and end with status 0, without a display.
prints() {
  local status=0
  run "$program" "$1" >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq 0 ] && [ ! -s "$work/err" ] && grep -q "$2" "$work/out" ||
    { echo "       status $status, stdout: $(head -c 200 "$work/out"), stderr: $(cat "$work/err")"; return 1; }
}
check "--help prints the usage" prints --help "^Usage: quietglass"
check "-h prints the usage" prints -h "quietglass --idle TIME"
check "--version prints $version" prints --version "^quietglass $version\$"
scripts/xvfb 640x480 >"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 200); do
  grep -q . "$work/display" && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.05
done
preview() {
  local status=0
  run DISPLAY=":$(head -n1 "$work/display")" timeout 20 "$root/usr/libexec/xscreensaver/quietglass" \
    /p 1234 >"$work/out" 2>&1 || status=$?
  [ "$status" -eq 0 ] && [ ! -s "$work/out" ] ||
    { echo "       status $status: $(cat "$work/out")"; return 1; }
}
check "/p on a display ends at once with status 0, through xscreensaver's link" preview

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
