# The one Release tree, build-release/: ./run.sh starts the programs from it,
# ./test.sh builds and runs the tests in it, and the Debian package is made
# from it, so a fresh machine compiles the programs once. Sourced by run.sh,
# tests/run_headless.sh, dist/build-deb.sh and test.sh.
#
# Debian's hardening flags (stack protector, fortified functions, read-only
# relocations, immediate binding), as lintian expects of a package, are given
# on every configure rather than through the environment, which CMake reads
# only on a folder's first configure: whoever configures the tree first, the
# flags are the same. Without debug information (the package strips it
# anyway), which makes the build about a fifth quicker.

QUORVID_RELEASE_DIR=${QUORVID_RELEASE_DIR:-build-release}

# quorvid_configure_release [CMAKE ARGUMENTS...]: configures the tree when it
# is new or when arguments are given. A new tree builds no tests unless the
# arguments say otherwise; an existing one keeps what it was configured with.
quorvid_configure_release() {
  if [ -f "$QUORVID_RELEASE_DIR/build.ninja" ] && [ $# -eq 0 ]; then return 0; fi
  local cxxflags cppflags ldflags tests=()
  command -v dpkg-buildflags >/dev/null || {
    echo "dpkg-buildflags is missing (package dpkg-dev; scripts/deps.sh lists it)" >&2; return 1; }
  cxxflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS)
  cppflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS)
  ldflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)
  # Release's own -O3 follows; -g goes, and the source path Debian maps away
  # is this tree's, whichever folder the clone is in.
  cxxflags=$(sed -E 's/(^| )-g( |$)/ /; s/ +/ /g; s/^ //' <<< "$cxxflags")
  [ -f "$QUORVID_RELEASE_DIR/build.ninja" ] || tests=(-DQUORVID_BUILD_TESTS=OFF)
  cmake -S . -B "$QUORVID_RELEASE_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX=/usr -DQUORVID_BUILD_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS=$cxxflags $cppflags" \
    "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags" \
    "${tests[@]}" "$@"
}

# quorvid_build_release TARGET...: brings the named programs up to date.
quorvid_build_release() {
  cmake --build "$QUORVID_RELEASE_DIR" -j "$(nproc 2>/dev/null || echo 2)" --target "$@"
}
