# What the Windows installer holds besides the three programs (installed by
# their own folders into bin/): the Qt libraries and the MinGW runtime they
# load, and the Qt plugins that Qt loads by name, which no import table
# names. Included by dist/CMakeLists.txt in a Windows build; dist/cpack.cmake
# makes the installer.

# The plugins, each in the folder beside the programs where Qt looks for it:
# the windows platform and the Windows style for the window, the offscreen
# platform, on which `quorvid --review FILE --stats` (or --export-csv,
# --export-png) draws without a window, and the results store's drivers:
# SQLite (the bench's own store) and ODBC (a data source of Windows' own
# ODBC manager, docs/install.md); PostgreSQL's follows the list. Qt 6 prints
# on Windows from Qt6PrintSupport.dll itself, which needs no plugin.
set(QUORVID_QT_PLUGINS
  platforms=Qt6::QWindowsIntegrationPlugin
  platforms=Qt6::QOffscreenIntegrationPlugin
  styles=Qt6::QWindowsVistaStylePlugin
  sqldrivers=Qt6::QSQLiteDriverPlugin
  sqldrivers=Qt6::QODBCDriverPlugin
)
set(plugin_files)
# The PostgreSQL driver (a line's shared store) is built apart from Qt's own
# CMake packages: found as a file beside the SQLite driver. It loads libpq.dll,
# which loads four DLLs of its own; the import tables below bring all five
# beside the programs, and their licences go into licenses\.
get_target_property(qt_sqlite_plugin Qt6::QSQLiteDriverPlugin IMPORTED_LOCATION_RELEASE)
if(NOT qt_sqlite_plugin)
  get_target_property(qt_sqlite_plugin Qt6::QSQLiteDriverPlugin IMPORTED_LOCATION)
endif()
get_filename_component(qt_sqldrivers_dir "${qt_sqlite_plugin}" DIRECTORY)
set(qt_psql_plugin "${qt_sqldrivers_dir}/qsqlpsql.dll")
get_filename_component(qt_licenses_dir "${qt_sqldrivers_dir}/../../licenses" ABSOLUTE)
if(NOT EXISTS "${qt_psql_plugin}" OR NOT EXISTS "${qt_licenses_dir}/libpq.txt")
  message(FATAL_ERROR "The Qt for Windows in use has no PostgreSQL driver (${qt_psql_plugin}) or its "
                      "licences (${qt_licenses_dir}): unpack the toolchain archive again")
endif()
install(FILES "${qt_psql_plugin}" DESTINATION ${CMAKE_INSTALL_BINDIR}/sqldrivers)
list(APPEND plugin_files "${qt_psql_plugin}")
file(GLOB qt_psql_licenses "${qt_licenses_dir}/*.txt")
install(FILES ${qt_psql_licenses} DESTINATION licenses)
foreach(entry IN LISTS QUORVID_QT_PLUGINS)
  string(REPLACE "=" ";" entry ${entry})
  list(GET entry 0 folder)
  list(GET entry 1 plugin)
  if(NOT TARGET ${plugin})
    message(FATAL_ERROR "The Qt for Windows in use has no ${plugin}; the installed programs would not start")
  endif()
  install(FILES $<TARGET_FILE:${plugin}> DESTINATION ${CMAKE_INSTALL_BINDIR}/${folder})
  list(APPEND plugin_files $<TARGET_FILE:${plugin}>)
endforeach()

# The DLLs: whatever the programs and the plugins import, found in Qt's bin/
# (where the toolchain keeps Qt's libraries and the MinGW runtime it was built
# with), read from their import tables when the install runs
# (install-windows-dlls.cmake; CMake's own search lowercases the names, and
# finds no Qt6Core.dll on a Linux file system). A DLL found nowhere there is
# taken for one of Windows' own; the Windows stage of ./test.sh checks each
# against a Windows system folder.
get_target_property(qt_core_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
if(NOT qt_core_dll)
  get_target_property(qt_core_dll Qt6::Core IMPORTED_LOCATION)
endif()
get_filename_component(QUORVID_QT_BIN_DIR "${qt_core_dll}" DIRECTORY)
install(CODE "
  set(FILES $<TARGET_FILE:quorvid> $<TARGET_FILE:quorvid-monitor> $<TARGET_FILE:quorvid-board> ${plugin_files})
  set(SEARCH_DIR \"${QUORVID_QT_BIN_DIR}\")
  set(DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  set(OBJDUMP \"${CMAKE_OBJDUMP}\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/install-windows-dlls.cmake\")
")

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
