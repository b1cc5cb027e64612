# Installs with apt-get whatever the build, the tests and the program need and
# the machine lacks. Sourced by run.sh and test.sh.
QUORVID_PACKAGES=(
  cmake ninja-build g++ qt6-base-dev qt6-serialport-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev fonts-liberation2 xvfb xauth xdotool python3
  scdoc librsvg2-bin libtomlplusplus-dev dpkg-dev
  libqt6sql6-sqlite libqt6sql6-psql postgresql
  libcpp-httplib-dev libjs-chart.js chromium poppler-utils
)
# The line's server (line/): cpp-httplib, and Chart.js compiled into the page;
# chromium is the browser its tests load the page in (headless).
# poppler-utils: the certificate's tests read its PDF with pdfinfo, pdffonts
# and pdftotext.
# The results store: Qt SQL's SQLite and PostgreSQL drivers, and the server
# the store's tests start for themselves (scripts/postgres-test.sh).
# dpkg-dev gives dpkg-buildflags, the source of the Release tree's hardening
# flags (scripts/release-tree.sh), and dpkg-shlibdeps.
# What the Debian package stage of test.sh needs besides: lintian, and the
# validators of the manual pages, the AppStream metadata and the desktop entry.
QUORVID_PACKAGE_CHECK_PACKAGES=(lintian man-db groff-base appstream desktop-file-utils)
# What the Windows stage of test.sh needs besides (scripts/build-windows.sh,
# scripts/test-windows.sh): the MinGW-w64 compiler, GoogleTest's sources to
# build with it, CPack's NSIS, Wine to run the programs, their tests and the
# installer, and ccache for the cross build. Qt for Windows is no package: it
# is the toolchain archive QUORVID_WINDOWS_QT names.
QUORVID_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix googletest nsis wine wine64 ccache)

quorvid_install_missing() {
  local missing=() pkg
  for pkg in "${QUORVID_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
