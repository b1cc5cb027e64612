#!/usr/bin/env bash
# Brings the Release tree, build-release/ (scripts/release-tree.sh: Debian's
# hardening flags, no benchmarks; no tests unless ./test.sh built it), up to
# date and makes the Debian package from it with CPack. Prints the package's
# path as its last line.
#
#   dist/build-deb.sh [--build-dir DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build-release
while [ $# -gt 0 ]; do
  case $1 in
    --build-dir) build_dir=${2:?--build-dir wants a folder}; shift 2 ;;
    -h|--help) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "build-deb.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done

for tool in cmake ninja cpack dpkg-shlibdeps dpkg-buildflags scdoc rsvg-convert; do
  command -v "$tool" >/dev/null || {
    echo "build-deb.sh: $tool is missing (scripts/deps.sh lists the packages)" >&2; exit 1; }
done

# The Release tree the tests share (scripts/release-tree.sh): configured with
# Debian's hardening flags, as lintian expects of a package; the programs,
# manual pages and icons are built in it if they are not yet.
source scripts/release-tree.sh
QUORVID_RELEASE_DIR=$build_dir
quorvid_configure_release -DQUORVID_DIST=ON >&2
cmake --build "$build_dir" -j "$(nproc 2>/dev/null || echo 2)" >&2
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build_dir/CPackConfig.cmake")
arch=$(dpkg --print-architecture)
deb="$build_dir/quorvid_${version}_${arch}.deb"
rm -f "$deb"
(cd "$build_dir" && cpack -G DEB) >&2
[ -f "$deb" ] || { echo "build-deb.sh: cpack did not make $deb" >&2; exit 1; }
echo "$deb"
