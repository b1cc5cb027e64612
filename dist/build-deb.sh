#!/usr/bin/env bash
# Builds the Release tree in build-deb/ (no tests, no benchmarks) with
# Debian's hardening flags and makes the Debian package with CPack. Prints
# the package's path as its last line.
#
#   dist/build-deb.sh [--build-dir DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build-deb
while [ $# -gt 0 ]; do
  case $1 in
    --build-dir) build_dir=${2:?--build-dir wants a folder}; shift 2 ;;
    -h|--help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "build-deb.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done

for tool in cmake ninja cpack dpkg-shlibdeps dpkg-buildflags scdoc rsvg-convert; do
  command -v "$tool" >/dev/null || {
    echo "build-deb.sh: $tool is missing (scripts/deps.sh lists the packages)" >&2; exit 1; }
done

# Debian's compiler and linker flags: stack protector, fortified functions,
# read-only relocations and immediate binding, as lintian expects of a
# package. CMake takes them from CXXFLAGS, CPPFLAGS and LDFLAGS on the first
# configure of the folder.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CXXFLAGS="$CXXFLAGS $CPPFLAGS"

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUORVID_BUILD_TESTS=OFF -DQUORVID_BUILD_BENCH=OFF -DQUORVID_DIST=ON >&2
cmake --build "$build_dir" -j "$jobs" >&2
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build_dir/CPackConfig.cmake")
arch=$(dpkg --print-architecture)
deb="$build_dir/quorvid_${version}_${arch}.deb"
rm -f "$deb"
(cd "$build_dir" && cpack -G DEB) >&2
[ -f "$deb" ] || { echo "build-deb.sh: cpack did not make $deb" >&2; exit 1; }
echo "$deb"
