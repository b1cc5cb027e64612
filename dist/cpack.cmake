# The Debian package, made by `cpack -G DEB` in a build configured with
# CMAKE_INSTALL_PREFIX=/usr (dist/build-deb.sh does both), and in a Windows
# build the installer, made by `cpack -G NSIS` (scripts/build-windows.sh).
# Included by the top-level CMakeLists.txt after every folder, so that it
# packs what they all install.

set(CPACK_PACKAGE_NAME quorvid)
set(CPACK_PACKAGE_VENDOR "Quorvid developers")
set(CPACK_PACKAGE_CONTACT "Quorvid developers <dev@quorvid.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "evaluate a two-channel invasive blood pressure board")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

if(WIN32)
  # Quorvid-VERSION-win64.exe: a 64-bit installer (NSIS's amd64 stub, so it
  # runs where only 64-bit Windows programs do) into Program Files\Quorvid,
  # with a Start menu entry for the window and an uninstaller that removes
  # everything it installed. /S installs silently, /D=FOLDER elsewhere.
  set(CPACK_GENERATOR NSIS)
  set(CPACK_PACKAGE_FILE_NAME Quorvid-${PROJECT_VERSION}-win64)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY Quorvid)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Quorvid)
  set(CPACK_PACKAGE_EXECUTABLES quorvid Quorvid)
  set(CPACK_NSIS_PACKAGE_NAME Quorvid)
  set(CPACK_NSIS_DISPLAY_NAME "Quorvid ${PROJECT_VERSION}")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_DEFINES "Target amd64-unicode")
  set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\\\quorvid.exe")
  set(CPACK_NSIS_EXECUTABLES_DIRECTORY bin)
  set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  set(CPACK_NSIS_CONTACT "dev@quorvid.invalid")
  set(CPACK_NSIS_URL_INFO_ABOUT https://quorvid.invalid/)
  set(CPACK_STRIP_FILES ON)
  include(CPack)
  return()
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Stripped as dh_strip strips, comment and note sections too; CPack's own
# stripping leaves those.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/strip-programs.cmake)
# Directories 0755 whatever the umask of whoever builds the package.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_PACKAGE_NAME quorvid)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorvid developers <dev@quorvid.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://quorvid.invalid/)
# The architecture is dpkg's own (CPack asks dpkg --print-architecture), and
# Depends is what dpkg-shlibdeps finds the programs linked against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The extended description under the summary; CPack indents it as Debian's
# control format wants.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Quorvid is a bench tool for evaluating a two-channel invasive blood
pressure (IBP) measurement board on a serial port. Its window shows both
channels' systolic, mean and diastolic pressures, the pulse rate, each
channel's status, the board's identification and a sweeping two-trace
waveform chart, and drives the board with its short commands.

The package also holds quorvid-board, a simulated board on a
pseudo-terminal (to try the program without hardware, and to replay a
recorded session), and quorvid-monitor, the same readouts in a terminal.

Quorvid is not a medical device and must not be used on patients.")

include(CPack)
