# The Debian package of the program (`make package`, or `cpack -G DEB` in the build
# folder): the program and talvora-cli in /usr/lib/talvora with the skin folder beside
# them, commands in /usr/bin, a desktop entry with the program's icon. The local service
# and the test tools stay out. The file is named with the marker start-up's cleanup of
# old installers looks for: Talvora_v<version>_<arch>.deb.
#
# Installed there the program's folder is not writable, so the program keeps its files
# in the per-user folder (core/data_dir.h).

if(TALVORA_CRASH_HOOKS)
  message(FATAL_ERROR "a build with TALVORA_CRASH_HOOKS makes no package: configure without it")
endif()

set(TALVORA_PACKAGE_DIR lib/talvora)
# cpack packs what is built; `make package` builds first (the root Makefile).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
set(_pkg ${CMAKE_SOURCE_DIR}/packaging)
set(_stage ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_stage})

install(TARGETS talvora RUNTIME DESTINATION ${TALVORA_PACKAGE_DIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/skin/ DESTINATION ${TALVORA_PACKAGE_DIR}/skin
  PATTERN CMakeLists.txt EXCLUDE PATTERN ".*" EXCLUDE)

# Commands on the search path: links to the programs, whose folder holds the skin.
set(_commands talvora)
if(TARGET talvora-cli)
  install(TARGETS talvora-cli RUNTIME DESTINATION ${TALVORA_PACKAGE_DIR})
  list(APPEND _commands talvora-cli)
endif()
foreach(_command ${_commands})
  file(CREATE_LINK ../lib/talvora/${_command} ${_stage}/${_command} SYMBOLIC)
  install(FILES ${_stage}/${_command} DESTINATION bin)
endforeach()

install(FILES ${_pkg}/talvora.desktop DESTINATION share/applications)
# The nightly backup as a user timer: systemctl --user enable --now talvora-backup.timer
if(TARGET talvora-cli)
  install(FILES ${_pkg}/talvora-backup.service ${_pkg}/talvora-backup.timer
    DESTINATION lib/systemd/user)
endif()
foreach(_size 48 128)
  install(FILES ${_pkg}/talvora-${_size}.png
    DESTINATION share/icons/hicolor/${_size}x${_size}/apps RENAME talvora.png)
endforeach()

# Debian wants the copyright and a compressed changelog of a native package.
set(TALVORA_PACKAGE_VERSION ${PROJECT_VERSION})
configure_file(${_pkg}/changelog.in ${_stage}/changelog @ONLY)
find_program(GZIP_PROGRAM gzip REQUIRED)
execute_process(COMMAND ${GZIP_PROGRAM} -9nf ${_stage}/changelog)
install(FILES ${_pkg}/copyright ${_stage}/changelog.gz DESTINATION share/doc/talvora)
configure_file(${_pkg}/talvora.1 ${_stage}/talvora.1 COPYONLY)
execute_process(COMMAND ${GZIP_PROGRAM} -9nf ${_stage}/talvora.1)
install(FILES ${_stage}/talvora.1.gz DESTINATION share/man/man1)

execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE _arch
  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT _arch)
  set(_arch amd64)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME talvora)
set(CPACK_PACKAGE_VENDOR Talvora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Talvora <support@talvora.cn>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop assistant for invoicing software and tax data")
set(CPACK_PACKAGE_DESCRIPTION "Talvora finds the state invoicing software and every company's\n\
invoicing data on the machine, backs that data up to cloud storage through the\n\
Talvora service and restores it, opens the tax portals, keeps a catalogue of\n\
related software and updates itself. The invoicing software runs under Wine.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${_arch})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.talvora.cn)
# Libraries come from dpkg-shlibdeps; the rest is what the program runs or shows.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "wine, fonts-wqy-microhei")
# The file name follows the version cpack is given (-D CPACK_PACKAGE_VERSION=...).
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/package_name.cmake)
include(CPack)
