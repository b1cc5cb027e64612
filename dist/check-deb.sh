#!/usr/bin/env bash
# Builds the Debian package (dist/build-deb.sh) and checks it as a user would
# meet it: lintian finds no error, the programs start from the unpacked tree
# without a display, the manual pages render without a warning, and the
# AppStream metadata, the desktop entry and the icons are valid. One line per
# check, then a summary line; exits 1 if any check failed.
#
#   dist/check-deb.sh [--build-dir DIR] [--no-build]
set -uo pipefail
cd "$(dirname "$0")/.."

build_dir=build-release build=1
while [ $# -gt 0 ]; do
  case $1 in
    --build-dir) build_dir=${2:?--build-dir wants a folder}; shift 2 ;;
    --no-build) build=0; shift ;;
    -h|--help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "check-deb.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done

passed=0 failed=0
ok()   { passed=$((passed + 1)); printf 'ok    %s\n' "$*"; }
fail() { failed=$((failed + 1)); printf 'FAIL  %s\n' "$*"; }

mkdir -p "$build_dir"
if [ "$build" -eq 1 ]; then
  if ! dist/build-deb.sh --build-dir "$build_dir" > "$build_dir/build-deb.log" 2>&1; then
    tail -n 30 "$build_dir/build-deb.log"
    echo "FAIL  the package was not built; the whole log is in $build_dir/build-deb.log"
    exit 1
  fi
  deb=$(tail -n 1 "$build_dir/build-deb.log")
else
  deb=$(ls "$build_dir"/quorvid_*_*.deb 2>/dev/null | tail -n 1)
fi
if [ ! -f "$deb" ]; then
  echo "FAIL  no package in $build_dir"
  exit 1
fi
ok "built $deb ($(stat -c %s "$deb") bytes)"
version=$(dpkg-deb -f "$deb" Version)

# lintian: errors fail the stage; warnings are allowed but each is explained
# in dist/README.md. (The "root privileges" notice is lintian's own, when it
# runs as root.)
lintian --display-info "$deb" > "$build_dir/lintian.log" 2>&1
lintian_status=$?
sed -i '/running with root privileges/d' "$build_dir/lintian.log"
errors=$(grep -c '^E: ' "$build_dir/lintian.log")
warnings=$(grep -c '^W: ' "$build_dir/lintian.log")
infos=$(grep -c '^I: ' "$build_dir/lintian.log")
if [ "$lintian_status" -ne 0 ] && [ "$errors" -eq 0 ]; then
  fail "lintian: exit status $lintian_status without a finding: $(head -n 1 "$build_dir/lintian.log")"
elif [ "$errors" -eq 0 ]; then
  ok "lintian: 0 errors, $warnings warnings, $infos infos"
else
  fail "lintian: $errors errors, $warnings warnings, $infos infos"
fi
sed 's/^/      /' "$build_dir/lintian.log"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

# The programs run from the unpacked tree: Qt is a system library, so no
# LD_LIBRARY_PATH; no display, as on a server or over ssh.
run() {  # run <name> <expected text> <program> <argument>...
  local name=$1 expect=$2 out status
  shift 2
  if [ ! -x "$root/usr/bin/$1" ]; then fail "$name: /usr/bin/$1 is not in the package"; return; fi
  out=$(cd "$root" && env -u DISPLAY -u WAYLAND_DISPLAY -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen \
          timeout 10 "$root/usr/bin/$1" "${@:2}" 2>&1 < /dev/null)
  status=$?
  if [ "$status" -ne 0 ]; then
    fail "$name: exit status $status${out:+: $(head -n 1 <<< "$out")}"
  elif ! grep -qF -- "$expect" <<< "$out"; then
    fail "$name: the output lacks \"$expect\": $(head -n 1 <<< "$out")"
  else
    ok "$name: $(grep -m 1 -F -- "$expect" <<< "$out" | sed 's/^ *//')"
  fi
}
run "quorvid --version" "$version" quorvid --version
run "quorvid-board --help" "--port" quorvid-board --help
run "quorvid-monitor --help" "--port" quorvid-monitor --help

# Manual pages as man shows them, with groff's warnings on (lintian's own
# test); any message is a fault.
for page in quorvid quorvid-board quorvid-monitor; do
  file=$root/usr/share/man/man1/$page.1.gz
  if [ ! -f "$file" ]; then fail "man $page: $file is not in the package"; continue; fi
  if ! gzip -t "$file" 2>/dev/null || [ "$(od -An -tx1 -j3 -N5 "$file" | tr -d ' ')" != 0000000000 ]; then
    fail "man $page: not gzipped without a name and time (gzip -9n)"; continue
  fi
  messages=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$file" 2>&1 > "$root/page.txt")
  status=$?
  if [ "$status" -ne 0 ] || [ -n "$messages" ]; then
    fail "man $page: status $status: $(head -n 1 <<< "$messages")"
  elif ! grep -q "^NAME" "$root/page.txt"; then
    fail "man $page: renders without a NAME section"
  else
    ok "man $page: $(wc -l < "$root/page.txt") lines, no warnings"
  fi
done

metainfo=$root/usr/share/metainfo/io.quorvid.Quorvid.metainfo.xml
if out=$(appstreamcli validate --no-net "$metainfo" 2>&1); then
  ok "appstreamcli validate --no-net: $(tail -n 1 <<< "$out" | sed 's/^[^A-Za-z]*//')"
else
  fail "appstreamcli validate --no-net: $(grep -E '^[EW]:' <<< "$out" | head -n 3 | tr '\n' ' ')"
fi

desktop=$root/usr/share/applications/io.quorvid.Quorvid.desktop
if out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ]; then
  ok "desktop-file-validate: no messages"
else
  fail "desktop-file-validate: $(head -n 1 <<< "$out")"
fi

# Each PNG is as large as the folder it is in says (the width and height are
# bytes 16 to 23 of a PNG).
bad_icons=()
for size in 16 32 48 64 128 256; do
  png=$root/usr/share/icons/hicolor/${size}x$size/apps/quorvid.png
  dims=$(od -An -tu1 -j16 -N8 "$png" 2>/dev/null | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dims" = "${size}x$size" ] || bad_icons+=("${size}x$size:${dims:-missing}")
done
[ -f "$root/usr/share/icons/hicolor/scalable/apps/quorvid.svg" ] || bad_icons+=("scalable:missing")
if [ ${#bad_icons[@]} -eq 0 ]; then
  ok "icons: SVG and PNG at 16, 32, 48, 64, 128, 256 px"
else
  fail "icons: ${bad_icons[*]}"
fi

echo "package: $(basename "$deb"), lintian: $errors errors, $warnings warnings;" \
     "checks: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
