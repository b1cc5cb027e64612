#!/usr/bin/env bash
# Compiles, for syntax and types only, every source file the Windows build of
# the programs and their libraries would compile: each *_win.cpp in place of
# its *_unix.cpp, every Q_OS_WIN branch, and the moc output, with the MinGW-w64
# cross compiler against Qt's own headers and the build's generated headers.
# Nothing is linked or run: no Qt for MinGW exists on these machines.
#
#   scripts/check-windows-sources.sh [BUILD_DIR]   (default: build)
#
# BUILD_DIR is a configured and built Linux build (its compile_commands.json
# gives each file's include folders and definitions). Tests and benchmarks
# are left out. Ends with one summary line; non-zero when a file fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
compiler=x86_64-w64-mingw32-g++-posix
command -v "$compiler" >/dev/null || { echo "windows sources: $compiler not installed" >&2; exit 1; }
[ -f "$build/compile_commands.json" ] || { echo "windows sources: no $build/compile_commands.json" >&2; exit 1; }

# One line per file: the file, then its flags, tab-separated.
list=$(mktemp)
trap 'rm -f "$list"' EXIT
python3 - "$PWD" "$build/compile_commands.json" > "$list" <<'PY'
import glob, json, os, shlex, sys

root, db = sys.argv[1], sys.argv[2]
left_out = ("tests/", "bench/")
qt_mkspecs = "/usr/lib/x86_64-linux-gnu/qt6/mkspecs/"
# What Qt's CMake adds for a MinGW build.
windows = ["-DUNICODE", "-D_UNICODE", "-DWIN32", "-DMINGW_HAS_SECURE_API=1", "-isystem", qt_mkspecs + "win32-g++"]

def wanted(path):
    rel = os.path.relpath(path, root)
    build_rel = os.path.relpath(path, os.path.abspath(os.path.dirname(db)))
    if not rel.startswith("..") and not rel.startswith(left_out) and not rel.startswith(os.path.basename(os.path.dirname(db)) + "/"):
        return True
    # The build's own generated sources (moc output) of the same folders.
    return not build_rel.startswith("..") and not build_rel.startswith(left_out)

def flags(command):
    args, out, i = shlex.split(command)[1:], [], 0
    while i < len(args):
        a = args[i]
        if a in ("-I", "-isystem", "-D") and i + 1 < len(args):
            if not args[i + 1].startswith(qt_mkspecs):
                out += [a, args[i + 1]]
            i += 2
            continue
        if a.startswith(("-I", "-D", "-std=")):
            out.append(a)
        i += 1
    return out + windows

files, dir_flags = {}, {}
for entry in json.load(open(db)):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    if not wanted(path) or path.endswith("_unix.cpp"):
        continue
    f = flags(entry["command"])
    files[path] = f
    dir_flags.setdefault(os.path.dirname(path), f)
# The Windows files take the flags of their folder's library.
for path in sorted(glob.glob(os.path.join(root, "*", "*_win.cpp"))):
    rel = os.path.relpath(path, root)
    if rel.startswith(left_out) or os.path.dirname(path) not in dir_flags:
        continue
    files[path] = dir_flags[os.path.dirname(path)]
for path in sorted(files):
    print(path + "\t" + " ".join(shlex.quote(a) for a in files[path]))
PY

total=$(wc -l < "$list")
win=$(grep -c '_win\.cpp	' "$list" || true)
jobs=$(nproc 2>/dev/null || echo 2)
failed=0
# Each file on its own, two at a time; the errors of a failing one are printed whole.
export compiler
tr '\n' '\0' < "$list" | xargs -0 -n 1 -P "$jobs" bash -c '
  file=${1%%$'"'"'\t'"'"'*}
  eval "flags=(${1#*$'"'"'\t'"'"'})"
  if ! out=$("$compiler" -fsyntax-only -w "${flags[@]}" "$file" 2>&1); then
    printf "FAILED %s\n%s\n" "$file" "$out"
    exit 1
  fi' bash || failed=1
if [ "$failed" -ne 0 ]; then
  echo "windows sources: FAILED ($total files, $win of them *_win.cpp; see above)"
  exit 1
fi
echo "windows sources: $total files ($win *_win.cpp) pass $compiler -fsyntax-only against Qt's headers"
