#!/usr/bin/env bash
# Cross-builds the Windows programs (quorvid.exe, quorvid-monitor.exe,
# quorvid-board.exe), their tests and the installer with Debian's MinGW-w64
# against Qt for Windows, on Linux. Prints the installer's path last.
#
#   scripts/build-windows.sh [--build-dir DIR] [--no-installer]
#
# Qt for Windows comes from the toolchain archive QUORVID_WINDOWS_QT names
# (default: ../shared/toolchains/qt-6.5.2-mingw-w64.tar.xz beside the clone),
# or a folder holding its host/ and target/; an archive is unpacked once into
# DIR/qt. toml++ is used header-only from QUORVID_TOMLPLUSPLUS_DIR (default
# /usr/include, Debian's libtomlplusplus-dev), GoogleTest built from
# /usr/src/googletest (Debian's googletest). On Windows itself, build with
# Qt's own installer and CMake instead (docs/install.md).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build-windows
installer=1
while [ $# -gt 0 ]; do
  case $1 in
    --build-dir) build_dir=${2:?--build-dir wants a folder}; shift 2 ;;
    --no-installer) installer=0; shift ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "build-windows.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done

toolchain=${QUORVID_WINDOWS_QT:-$PWD/../shared/toolchains/qt-6.5.2-mingw-w64.tar.xz}
toml_dir=${QUORVID_TOMLPLUSPLUS_DIR:-/usr/include}
gtest_dir=${QUORVID_GTEST_SOURCE_DIR:-/usr/src/googletest}
for tool in cmake ninja cpack makensis x86_64-w64-mingw32-g++-posix; do
  command -v "$tool" >/dev/null || {
    echo "build-windows.sh: $tool is missing (scripts/deps.sh lists the packages)" >&2; exit 1; }
done
[ -f "$toml_dir/toml++/toml.h" ] || {
  echo "build-windows.sh: no toml++/toml.h in $toml_dir (apt-get install libtomlplusplus-dev," \
       "or set QUORVID_TOMLPLUSPLUS_DIR)" >&2; exit 1; }
[ -f "$gtest_dir/CMakeLists.txt" ] || {
  echo "build-windows.sh: no GoogleTest sources in $gtest_dir (apt-get install googletest," \
       "or set QUORVID_GTEST_SOURCE_DIR)" >&2; exit 1; }

# The toolchain: an unpacked folder is used where it is; an archive is
# unpacked into the build folder, again when it changed or when what was
# unpacked lacks Qt SQL or its PostgreSQL driver (the results store; an
# archive from before them).
sql=target/lib/cmake/Qt6Sql/Qt6QSQLiteDriverPluginConfig.cmake
psql=target/plugins/sqldrivers/qsqlpsql.dll
mkdir -p "$build_dir"
if [ -d "$toolchain/target" ] && [ -d "$toolchain/host" ]; then
  qt=$(cd "$toolchain" && pwd)
elif [ -f "$toolchain" ]; then
  qt=$PWD/$build_dir/qt
  stamp="$toolchain $(stat -c '%s %Y' "$toolchain")"
  if [ "$(cat "$qt/.unpacked-from" 2>/dev/null)" != "$stamp" ] || [ ! -f "$qt/$sql" ] || [ ! -f "$qt/$psql" ]; then
    echo "Unpacking $toolchain into $qt" >&2
    rm -rf "$qt" && mkdir -p "$qt"
    tar -C "$qt" -xJf "$toolchain"
    printf '%s\n' "$stamp" > "$qt/.unpacked-from"
  fi
else
  cat >&2 <<EOF
build-windows.sh: no Qt for Windows at $toolchain.
The cross build needs the toolchain archive qt-6.5.2-mingw-w64.tar.xz (Qt 6.5.2
for Windows x86-64 built with Debian's MinGW-w64, with its Linux host tools):
put it at ../shared/toolchains/ beside the clone, or name it (or a folder
holding its host/ and target/) in QUORVID_WINDOWS_QT. Its recipe/ folder says
how to make one. On Windows, build with Qt's own installer instead
(docs/install.md).
EOF
  exit 1
fi
[ -f "$qt/$sql" ] && [ -f "$qt/$psql" ] || {
  echo "build-windows.sh: the Qt for Windows in $qt has no Qt SQL with its SQLite and PostgreSQL" \
       "drivers ($sql, $psql); the results store needs the rebuilt toolchain archive (../shared/toolchains/)" >&2; exit 1; }

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# What ccache needs to cache compiles that use the tests' precompiled header.
export CCACHE_SLOPPINESS=${CCACHE_SLOPPINESS:+$CCACHE_SLOPPINESS,}pch_defines,time_macros
jobs=$(nproc 2>/dev/null || echo 2)
# -O2 as Qt itself is built, rather than CMake's -O3: a sixth less compile time.
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
  "-DCMAKE_TOOLCHAIN_FILE=$qt/target/lib/cmake/Qt6/qt.toolchain.cmake" \
  "-DQUORVID_TOMLPLUSPLUS_DIR=$toml_dir" "-DQUORVID_GTEST_SOURCE_DIR=$gtest_dir" \
  -DQUORVID_BUILD_BENCH=OFF "${launcher[@]}" >&2
cmake --build "$build_dir" -j "$jobs" >&2
[ "$installer" -eq 1 ] || exit 0

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build_dir/CPackConfig.cmake")
package="$build_dir/Quorvid-$version-win64.exe"
rm -f "$package"
(cd "$build_dir" && cpack -G NSIS) >&2
[ -f "$package" ] || { echo "build-windows.sh: cpack did not make $package" >&2; exit 1; }
echo "$package"
