# Packages made by CPack from the install components:
#   lib   the shared library             -> Debian package libkv-os<SOVERSION>
#   dev   headers, link, CMake package   -> libkv-os-dev
#   tool  kvos, its manual page, completion -> kvos
# On Windows one ZIP holds everything. scripts/package builds the Debian
# packages (prefix /usr, Debian's hardening flags); scripts/check-packages
# tries them on the machine.

set(KV_OS_PACKAGE_MAINTAINER "kv_Os maintainers <kv-os@korvane.example>"
  CACHE STRING "Maintainer named in the Debian packages and their changelog")

set(kv_pkg_dir ${PROJECT_SOURCE_DIR}/cmake/packaging)
set(kv_lib_package libkv-os${PROJECT_VERSION_MAJOR})

# --- Files installed beside the programs (Unix only) ---------------------
if(UNIX)
  # The newest changelog entry must be the version being built: a release
  # that forgot its entry would otherwise ship a changelog that lies. Its date
  # also dates the manual page, so rebuilding gives the same bytes.
  file(STRINGS ${kv_pkg_dir}/changelog kv_changelog_lines)
  list(GET kv_changelog_lines 0 kv_changelog_head)
  if(NOT kv_changelog_head MATCHES "^kv-os \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "cmake/packaging/changelog: the first entry is not version ${PROJECT_VERSION}:\n"
      "  ${kv_changelog_head}\nAdd an entry for the new version at its top.")
  endif()
  foreach(line IN LISTS kv_changelog_lines)
    if(line MATCHES "^ -- .*  [A-Z][a-z][a-z], ([0-9]+ [A-Z][a-z][a-z] [0-9][0-9][0-9][0-9]) ")
      set(KVOS_MAN_DATE "${CMAKE_MATCH_1}")
      break()
    endif()
  endforeach()
  if(NOT KVOS_MAN_DATE)
    message(FATAL_ERROR "cmake/packaging/changelog: the first entry has no trailer line with a date")
  endif()

  find_program(KV_OS_GZIP gzip REQUIRED)
  set(kv_share_dir ${PROJECT_BINARY_DIR}/share)
  configure_file(${PROJECT_SOURCE_DIR}/tools/kvos/kvos.1.in ${kv_share_dir}/man/kvos.1 @ONLY)
  configure_file(${kv_pkg_dir}/changelog ${kv_share_dir}/doc/changelog COPYONLY)
  # -n: no name or time stamp inside, so the packages build reproducibly
  # and Multi-Arch: same copies of a file agree byte for byte.
  add_custom_command(OUTPUT ${kv_share_dir}/man/kvos.1.gz ${kv_share_dir}/doc/changelog.gz
    COMMAND ${KV_OS_GZIP} -9nkf ${kv_share_dir}/man/kvos.1 ${kv_share_dir}/doc/changelog
    DEPENDS ${kv_share_dir}/man/kvos.1 ${kv_share_dir}/doc/changelog
    COMMENT "Compressing the manual page and the changelog" VERBATIM)
  add_custom_target(kv_Os_share ALL DEPENDS ${kv_share_dir}/man/kvos.1.gz ${kv_share_dir}/doc/changelog.gz)
  # Whoever builds the tool to install it gets its manual page too.
  add_dependencies(kvos kv_Os_share)

  install(FILES ${kv_share_dir}/man/kvos.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/kvos/kvos.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME kvos COMPONENT tool)
  foreach(kv_comp_pkg IN ITEMS "lib;${kv_lib_package}" "dev;libkv-os-dev" "tool;kvos")
    list(GET kv_comp_pkg 0 kv_comp)
    list(GET kv_comp_pkg 1 kv_pkg)
    install(FILES ${kv_pkg_dir}/copyright ${kv_share_dir}/doc/changelog.gz
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${kv_pkg} COMPONENT ${kv_comp})
  endforeach()

  # Installed where the dynamic linker looks anyway (a /usr prefix), kvos
  # needs no run path; one there would also shadow the system's choice.
  if("${CMAKE_INSTALL_FULL_LIBDIR}" IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
    set_target_properties(kvos PROPERTIES INSTALL_RPATH "")
  endif()
endif()

# --- CPack ----------------------------------------------------------------
set(CPACK_PACKAGE_NAME kv-os)
set(CPACK_PACKAGE_VENDOR "Korvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${KV_OS_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL lib dev tool)

if(WIN32)
  # kv_Os.dll, its import library, the headers, the CMake package and
  # kvos.exe in one archive, under one folder named as the archive. The
  # components are installed into it one by one, so that nothing outside
  # them (the test programs' build rules, say) can slip in.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PACKAGE_FILE_NAME kv_Os-${PROJECT_VERSION}-windows-${CMAKE_SYSTEM_PROCESSOR})
  # kvos.exe comes in by itself once the tool builds for Windows.
  if(NOT TARGET kvos)
    list(REMOVE_ITEM CPACK_COMPONENTS_ALL tool)
  endif()
  # The licence the Debian packages carry, at the top of the folder.
  install(FILES ${kv_pkg_dir}/copyright DESTINATION . RENAME copyright.txt COMPONENT lib)
else()
  set(CPACK_GENERATOR DEB)
  # Each package's description carries its own synopsis line; CPack would
  # put the project's description in front of it.
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
  # dpkg-shlibdeps finds the system's libraries; our own is found in the
  # build tree and its dependency is written below, with its version rule.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/OS)
  # The shlibs file: programs built against this version need at least it.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

  set(CPACK_DEBIAN_LIB_PACKAGE_NAME ${kv_lib_package})
  set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_LIB_DESCRIPTION "operating-system layer of the Korvane framework (library)
kv_Os is the operating-system layer of the Korvane application framework:
strings, error records, time values, intrusive containers, sectioned
configuration files, leveled log files, files and directories, threads,
events and locks, processes, IPv4 sockets, name resolution, data streams
with a framed record store, and machine and process monitoring.
.
This package holds the shared library.")

  set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkv-os-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  # Headers and library must come from the same build.
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${kv_lib_package} (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_DEV_DESCRIPTION "operating-system layer of the Korvane framework (development files)
kv_Os is the operating-system layer of the Korvane application framework:
strings, error records, time values, intrusive containers, sectioned
configuration files, leveled log files, files and directories, threads,
events and locks, processes, IPv4 sockets, name resolution, data streams
with a framed record store, and machine and process monitoring.
.
This package holds the headers, the link to the shared library, the CMake
package (find_package(kv_Os)) and the pkg-config file (kv_Os).")

  set(CPACK_DEBIAN_TOOL_PACKAGE_NAME kvos)
  set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "${kv_lib_package} (>= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_TOOL_DESCRIPTION "command-line tool of the kv_Os operating-system layer
kvos puts the services of the kv_Os library on the command line: it
describes the machine and samples its load, reads and edits sectioned
configuration files, writes and filters log files, decodes error records,
converts time values and base-64 number texts, makes unique identifiers,
and starts, watches and stops processes.")

  # CPack 3.25 cannot write the Multi-Arch field nor an ldconfig trigger; a
  # script run after it adds both.
  set(KV_OS_MULTIARCH "${kv_lib_package}=same;libkv-os-dev=same;kvos=foreign")
  configure_file(${kv_pkg_dir}/debcontrol.cmake.in ${PROJECT_BINARY_DIR}/kv_Os_debcontrol.cmake @ONLY)
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_BINARY_DIR}/kv_Os_debcontrol.cmake)
endif()

include(CPack)
