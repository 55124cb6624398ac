# What `cmake --install` puts where, and the Debian packages CPack makes of it
# (scripts/package). One install component per package:
#
#   component  package          holds
#   launcher   quillgate        the launcher, its helper program, its skin
#   tools      quillgate-tools  the operators' programs
#   library    libqgtarn0       the download engine's shared library (named by its SONAME)
#   dev        libqgtarn-dev    its header, its link name and qgtarn.pc
#
# A program joins a package by its line in QG_PACKAGE_PROGRAMS: its executable goes to
# bin/ (or the given folder) and its man page, made from its --help by help2man (with
# docs/man/PROGRAM.h2m when there is one), to man/man1. The library's own rules are in engine/api.

option(QG_PACKAGING "Build what the packages need besides the programs (man pages)" OFF)

# component; CMake target; program name; folder below the prefix
set(QG_PACKAGE_PROGRAMS
  "launcher,quillgate,quillgate,${CMAKE_INSTALL_BINDIR}"
  "launcher,qg-rundll,qg-rundll,${QG_INSTALLED_HELPER_DIR}"
  "tools,axp_tool,axp,${CMAKE_INSTALL_BINDIR}"
  "tools,qgpatch,qgpatch,${CMAKE_INSTALL_BINDIR}"
  "tools,qg-fetch,qg-fetch,${CMAKE_INSTALL_BINDIR}"
  "tools,qg-get,qg-get,${CMAKE_INSTALL_BINDIR}"
  "tools,qg-lookup,qg-lookup,${CMAKE_INSTALL_BINDIR}"
)

install(DIRECTORY ${QG_SKIN_DIR}/ DESTINATION ${QG_INSTALLED_SKIN_DIR} COMPONENT launcher)

if(QG_PACKAGING)
  find_program(QG_HELP2MAN help2man REQUIRED)
  find_program(QG_GZIP gzip REQUIRED)
  set(QG_MAN_DIR ${PROJECT_BINARY_DIR}/man)
  file(MAKE_DIRECTORY ${QG_MAN_DIR})
endif()

set(QG_MAN_PAGES)
foreach(entry IN LISTS QG_PACKAGE_PROGRAMS)
  string(REPLACE "," ";" entry "${entry}")
  list(GET entry 0 component)
  list(GET entry 1 target)
  list(GET entry 2 program)
  list(GET entry 3 folder)
  install(TARGETS ${target} RUNTIME DESTINATION ${folder} COMPONENT ${component})
  if(QG_PACKAGING)
    # The page tells the program's own --help and --version, and the sections of its
    # include file; gzip -n leaves out the time, so the same sources give the same page.
    set(include ${PROJECT_SOURCE_DIR}/docs/man/${program}.h2m)
    set(include_option)
    if(EXISTS ${include})
      set(include_option --include=${include})
    else()
      set(include)
    endif()
    set(page ${QG_MAN_DIR}/${program}.1.gz)
    add_custom_command(OUTPUT ${page}
      COMMAND ${QG_HELP2MAN} --no-info --no-discard-stderr --section=1 ${include_option}
        --output=${QG_MAN_DIR}/${program}.1 $<TARGET_FILE:${target}>
      COMMAND ${QG_GZIP} -9nf ${QG_MAN_DIR}/${program}.1
      DEPENDS ${target} ${include}
      COMMENT "Man page of ${program}")
    list(APPEND QG_MAN_PAGES ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
  endif()
endforeach()
if(QG_PACKAGING)
  add_custom_target(qg_man_pages ALL DEPENDS ${QG_MAN_PAGES})
endif()

# Each package's copyright and changelog, as Debian keeps them.
set(QG_PACKAGES quillgate quillgate-tools libqgtarn0 libqgtarn-dev)
set(QG_COMPONENTS launcher tools library dev)
string(TIMESTAMP QG_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(package component IN ZIP_LISTS QG_PACKAGES QG_COMPONENTS)
  set(QG_PACKAGE_NAME ${package})
  set(doc ${PROJECT_BINARY_DIR}/debian/${package})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${doc}/changelog.Debian @ONLY)
  if(QG_PACKAGING)
    execute_process(COMMAND gzip -9nf ${doc}/changelog.Debian)
    install(FILES ${doc}/changelog.Debian.gz ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
      DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  endif()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillgate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quillgate developers")
set(CPACK_PACKAGE_CONTACT "Quillgate developers <maintainers@quillgate.example>")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${QG_COMPONENTS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies come from the libraries the binaries link (dpkg-shlibdeps); the engine's
# library of this build is found in the build tree and named by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/engine/api)
set(qg_exact_version "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
# The library's shlibs (what programs built against it depend on) and the trigger that
# runs ldconfig, as Debian's library packages carry them.
file(WRITE ${PROJECT_BINARY_DIR}/debian/libqgtarn0/shlibs
  "libqgtarn 0 libqgtarn0 (= ${qg_exact_version})\n")
file(WRITE ${PROJECT_BINARY_DIR}/debian/libqgtarn0/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA
  ${PROJECT_BINARY_DIR}/debian/libqgtarn0/shlibs ${PROJECT_BINARY_DIR}/debian/libqgtarn0/triggers)

set(CPACK_DEBIAN_LAUNCHER_PACKAGE_NAME quillgate)
set(CPACK_DEBIAN_LAUNCHER_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_LAUNCHER_DESCRIPTION
  "launcher and automatic patcher of an online game client
Quillgate brings an installed game client up to date from plain HTTP update
servers (patch chain, downloads, patch packages applied into the client's pack
archives), repairs damaged installs, shows one skinned window with a news page
and starts the game. Run it in the client's folder: quillgate, or quillgate
--headless on a terminal.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME quillgate-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
# dpkg-shlibdeps finds this build's library but knows no package of it.
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libqgtarn0 (= ${qg_exact_version})")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
  "operator tools of the Quillgate game launcher
The programs that feed Quillgate's update sites: axp (pack archives), qgpatch
(patch packages, update and repair sites, signing), qg-fetch (one download
with the launcher's HTTP downloader), qg-get (a download with the
peer-assisted engine through its C interface) and qg-lookup (the lookup
service that engines announce to and ask, in memory or on Redis).")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libqgtarn0)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION
  "Quillgate's peer-assisted download engine (shared library)
A download engine behind a flat C interface: tasks that fetch one file from
mirrors (HTTP, FTP), peers found through a lookup server and a local block
server, with resume state, progress in a status block and notifications.")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libqgtarn-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libqgtarn0 (= ${qg_exact_version})")
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEV_DESCRIPTION
  "Quillgate's peer-assisted download engine (development files)
The header quillgate/tarn.h, the link name of libqgtarn.so and qgtarn.pc
for pkg-config, to build C and C++ programs against the engine.")

include(CPack)
