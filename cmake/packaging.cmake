# Debian packages (cpack -G DEB in the build directory):
#   zma-driver      the driver and zma-log, its log reader, with a systemd
#                   unit (off by default) that forwards the log to the
#                   journal; on the board the vendor's library provides
#                   libzq-board-korvel-2023.so.1
#   zma-driver-sim  what runs it without the board: the stand-in library in
#                   a private directory, shield-sim, zma-driver-demo and
#                   replay-session
# The Depends lines come from dpkg-shlibdeps at packaging time.

set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME driver)
# ZMA_SIM_LIBDIR, the stand-in library's private directory, is set above.

# Debian architecture of the packages, from the compiler's target.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(ZMA_DEB_ARCH arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(ZMA_DEB_ARCH amd64)
else()
  set(ZMA_DEB_ARCH ${CMAKE_SYSTEM_PROCESSOR})
endif()

set(ZMA_DEB_VERSION ${PROJECT_VERSION}-1)
set(_pkg ${CMAKE_BINARY_DIR}/packaging)

# The launcher: tools/run-demo.sh with the stand-in's directory filled in.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/run-demo.sh)
file(READ ${PROJECT_SOURCE_DIR}/tools/run-demo.sh _demo)
string(REPLACE "\nsim_libdir=\n" "\nsim_libdir=../${ZMA_SIM_LIBDIR}\n" _demo "${_demo}")
file(WRITE ${_pkg}/zma-driver-demo "${_demo}")

# The dates of the man pages and the changelog: SOURCE_DATE_EPOCH when the
# package build sets it, else the last commit's time, so two builds of one
# commit give the same packages (the build's own time only outside git).
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE _epoch
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE _git_status)
    if(_git_status EQUAL 0 AND _epoch MATCHES "^[0-9]+$")
      set(ENV{SOURCE_DATE_EPOCH} ${_epoch})
    endif()
  endif()
endif()
string(TIMESTAMP ZMA_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP ZMA_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

# Man pages and changelog with the version and date filled in, compressed
# as Debian wants them.
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog ${_pkg}/changelog.Debian @ONLY)
set(_man_pages zma-driver.8 shield-sim.1 zma-driver-demo.1 zma-log.1 replay-session.1)
foreach(_page ${_man_pages})
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${_page} ${_pkg}/${_page} @ONLY)
endforeach()
set(_gz_outputs)
foreach(_name ${_man_pages} changelog.Debian)
  set(_src ${_pkg}/${_name})
  add_custom_command(OUTPUT ${_pkg}/${_name}.gz
    COMMAND gzip -9n -c ${_src} > ${_pkg}/${_name}.gz
    DEPENDS ${_src} VERBATIM)
  list(APPEND _gz_outputs ${_pkg}/${_name}.gz)
endforeach()
add_custom_target(zma_package_files ALL DEPENDS ${_gz_outputs})

set(_lib_perms OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
foreach(_component driver sim)
  if(_component STREQUAL driver)
    set(_doc share/doc/zma-driver)
  else()
    set(_doc share/doc/zma-driver-sim)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${_doc}
    PERMISSIONS ${_lib_perms} COMPONENT ${_component})
  install(FILES ${_pkg}/changelog.Debian.gz DESTINATION ${_doc}
    PERMISSIONS ${_lib_perms} COMPONENT ${_component})
endforeach()

install(TARGETS zma-driver zma-log RUNTIME DESTINATION bin COMPONENT driver)
install(FILES ${_pkg}/zma-driver.8.gz DESTINATION share/man/man8 PERMISSIONS ${_lib_perms} COMPONENT driver)
install(FILES ${_pkg}/zma-log.1.gz DESTINATION share/man/man1 PERMISSIONS ${_lib_perms} COMPONENT driver)
# The unit that forwards the log to the journal, shipped off (nothing
# enables it). /lib, not /usr/lib: where Debian 12 keeps units.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/zma-log-journal.service DESTINATION /lib/systemd/system
  PERMISSIONS ${_lib_perms} COMPONENT driver)
install(FILES ${PROJECT_SOURCE_DIR}/docs/protocol.md DESTINATION share/doc/zma-driver
  PERMISSIONS ${_lib_perms} COMPONENT driver)

install(TARGETS zq_board LIBRARY DESTINATION ${ZMA_SIM_LIBDIR} NAMELINK_SKIP
  PERMISSIONS ${_lib_perms} COMPONENT sim)
install(TARGETS shield-sim replay-session RUNTIME DESTINATION bin COMPONENT sim)
install(PROGRAMS ${_pkg}/zma-driver-demo DESTINATION bin COMPONENT sim)
install(FILES ${_pkg}/shield-sim.1.gz ${_pkg}/zma-driver-demo.1.gz ${_pkg}/replay-session.1.gz
  DESTINATION share/man/man1 PERMISSIONS ${_lib_perms} COMPONENT sim)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zma-driver)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL driver sim)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${ZMA_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "ZMA driver team <zma-driver@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_DRIVER_PACKAGE_NAME zma-driver)
set(CPACK_DEBIAN_SIM_PACKAGE_NAME zma-driver-sim)
set(CPACK_COMPONENT_DRIVER_DESCRIPTION "driver process of the apartment-intercom adapter
zma-driver runs on the adapter's board and talks to its microcontroller
(the shield) over a serial line and SPI. Its parent process gives it
commands as text lines on stdin and reads status lines on stdout; audio
goes to and from the parent as UDP datagrams on loopback (ports 20003 and
20002), and the log as UDP datagrams to port 20004, which zma-log reads
with the serial frames decoded.

The driver links against libzq-board-korvel-2023.so.1, the board
vendor's library, which this package does not contain: on the board the
vendor's package provides it. To run the driver without the board,
install zma-driver-sim.")
set(CPACK_COMPONENT_SIM_DESCRIPTION "zma-driver without the board: stand-in library and simulated shield
Runs zma-driver on a machine without the adapter's board. It holds a
stand-in for the board vendor's library, kept in a private directory so
that it never shadows the vendor's library; shield-sim, a simulated shield
on a pseudo-terminal and a Unix socket, which can also replay a recorded
session and compare the driver's frames; zma-driver-demo, which starts
both with the driver on the terminal; and replay-session, which replays a
recorded session against the driver.")
set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS "zma-driver (= ${ZMA_DEB_VERSION})")
# dpkg-shlibdeps runs from the project file: the board library comes from
# no Debian package, so its missing information must not stop it.
set(ZMA_SHLIBDEPS_DRIVER "${CMAKE_BINARY_DIR}/zma-driver ${CMAKE_BINARY_DIR}/tools/zma-log")
set(ZMA_SHLIBDEPS_SIM "${CMAKE_BINARY_DIR}/tools/shield-sim ${CMAKE_BINARY_DIR}/tools/replay-session")
# dpkg-shlibdeps wants a control file to read.
file(WRITE ${_pkg}/debian/control "Source: zma-driver\n\nPackage: zma-driver\nArchitecture: any\n")
configure_file(${PROJECT_SOURCE_DIR}/cmake/cpack-project.cmake.in ${_pkg}/cpack-project.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${_pkg}/cpack-project.cmake)
include(CPack)
