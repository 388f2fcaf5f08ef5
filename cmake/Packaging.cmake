# Installation and Debian packages. `cpack -G DEB` in the build directory
# (scripts/package.sh) writes four packages:
#   vexlink            the program, its man page and the documents
#   libwirecomm-2-2    the conversation library libwirecomm-2.so.2
#   libwirecomm-2-dev  its headers, the link name and wirecomm-2.pc
#   vexlink-hostemu    the host emulator, its man page and sample catalogue
# The programs find the library through their RUNPATH ($ORIGIN/../lib/<arch>),
# so a tree unpacked anywhere (dpkg -x) runs as it is; installed under /usr
# the same path is the system's library directory.
include(GNUInstallDirs)
# The library goes into the multiarch directory (lib/x86_64-linux-gnu)
# whatever the install prefix, as Debian's library packages do.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(VEXLINK_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
else()
  set(VEXLINK_LIBDIR ${CMAKE_INSTALL_LIBDIR})
endif()

set(VEXLINK_MAINTAINER "vexlink maintainers <vexlink-maintainers@example.org>")
set(VEXLINK_LIB_PACKAGE libwirecomm-2-2)

if(TARGET wirecomm-2)
  set_target_properties(wirecomm-2 PROPERTIES VERSION ${WIRECOMM_VERSION} SOVERSION 2)
  install(TARGETS wirecomm-2
          LIBRARY DESTINATION ${VEXLINK_LIBDIR} COMPONENT library NAMELINK_COMPONENT dev)
  install(FILES ${CMAKE_SOURCE_DIR}/wirecomm/include/wirecomm.h ${CMAKE_SOURCE_DIR}/wirecomm/include/wirecomm_host.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/wirecomm-2 COMPONENT dev)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wirecomm-2.pc.in ${CMAKE_BINARY_DIR}/wirecomm-2.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/wirecomm-2.pc DESTINATION ${VEXLINK_LIBDIR}/pkgconfig COMPONENT dev)
endif()

set(VEXLINK_RUNPATH "$ORIGIN/../${VEXLINK_LIBDIR}")
set_target_properties(vexlink PROPERTIES INSTALL_RPATH "${VEXLINK_RUNPATH}")
install(TARGETS vexlink RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
if(TARGET vexlink-hostemu)
  set_target_properties(vexlink-hostemu PROPERTIES INSTALL_RPATH "${VEXLINK_RUNPATH}")
  install(TARGETS vexlink-hostemu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT hostemu)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/hostemu/sample/
          DESTINATION ${CMAKE_INSTALL_DATADIR}/vexlink-hostemu/sample COMPONENT hostemu)
endif()

# Man pages and Debian changelogs are installed compressed (gzip -9n: no
# name, no time stamp, so the packages are reproducible).
set(gz_files "")
function(vexlink_gzip src out)
  add_custom_command(OUTPUT ${out} COMMAND gzip -9nc ${src} > ${out} DEPENDS ${src} VERBATIM)
  set(gz_files ${gz_files} ${out} PARENT_SCOPE)
endfunction()
set(pkg_dir ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${pkg_dir})
# The man pages carry the version of project(VERSION).
foreach(page vexlink vexlink-hostemu)
  configure_file(${CMAKE_SOURCE_DIR}/docs/man/${page}.1.in ${pkg_dir}/${page}.1 @ONLY)
  vexlink_gzip(${pkg_dir}/${page}.1 ${pkg_dir}/${page}.1.gz)
endforeach()
string(TIMESTAMP VEXLINK_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(pkg vexlink ${VEXLINK_LIB_PACKAGE} libwirecomm-2-dev vexlink-hostemu)
  set(VEXLINK_CHANGELOG_PACKAGE ${pkg})
  configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.Debian.in ${pkg_dir}/${pkg}/changelog.Debian @ONLY)
  vexlink_gzip(${pkg_dir}/${pkg}/changelog.Debian ${pkg_dir}/${pkg}/changelog.Debian.gz)
endforeach()
add_custom_target(packaging_files ALL DEPENDS ${gz_files})

install(FILES ${pkg_dir}/vexlink.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
install(FILES ${pkg_dir}/vexlink-hostemu.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT hostemu)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/front-end.md
              ${CMAKE_SOURCE_DIR}/docs/wire-protocol.md ${CMAKE_SOURCE_DIR}/docs/performance.md
              ${CMAKE_SOURCE_DIR}/docs/reliability.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vexlink COMPONENT program)
install(FILES ${CMAKE_SOURCE_DIR}/docs/host-requests.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vexlink-hostemu COMPONENT hostemu)
install(FILES ${CMAKE_SOURCE_DIR}/docs/wire-protocol.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/libwirecomm-2-dev COMPONENT dev)
foreach(pair program:vexlink library:${VEXLINK_LIB_PACKAGE} dev:libwirecomm-2-dev hostemu:vexlink-hostemu)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 comp)
  list(GET pair 1 pkg)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${pkg_dir}/${pkg}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${pkg} COMPONENT ${comp})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexlink)
set(CPACK_PACKAGE_VENDOR "vexlink maintainers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VEXLINK_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program library dev hostemu)
set(CPACK_COMPONENT_PROGRAM_DEPENDS library)
set(CPACK_COMPONENT_DEV_DEPENDS library)
set(CPACK_COMPONENT_HOSTEMU_DEPENDS library)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/wirecomm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME vexlink)
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION "bridge between a PHP front end and a z/OS host
vexlink carries file transfers and job requests between a PHP web front
end and an IBM z/OS host. The front end starts it with an INI file and a
work directory, writes the password on its standard input and talks to it
through an SQLite database: requests into the table Request, answers from
Response and System, downloads as temporary files.")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${VEXLINK_LIB_PACKAGE})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/library/triggers)
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION "conversation library of vexlink
libwirecomm-2 holds a CPI-C-like half-duplex conversation (cm_* calls)
between a PC program and a started task on the host over TCP, with
password encryption and optional TLS.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libwirecomm-2-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION "conversation library of vexlink - development files
The C headers of libwirecomm-2 (the cm_* calls of the PC side and the
wch_* calls of the host side), the link name and the pkg-config file
wirecomm-2.pc.")

set(CPACK_DEBIAN_HOSTEMU_PACKAGE_NAME vexlink-hostemu)
set(CPACK_COMPONENT_HOSTEMU_DESCRIPTION "host emulator for vexlink
vexlink-hostemu stands in for the started task on the z/OS host: it
serves vexlink's conversations on a loopback address from a catalogue of
data sets in a directory, for tests, demonstrations and front-end
development. A sample catalogue comes with it.")

include(CPack)
