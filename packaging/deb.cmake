# The Debian packages `cpack -G DEB` makes of the install components:
#   apupgrade        (tool) the tool, its man page, completion and SQL scripts
#   libvelaccap1     (lib)  libVelAccAP.so.1, with an ldconfig trigger
#   libvelaccap-dev  (dev)  the headers, the .so link, pkg-config and CMake files
# scripts/package.sh builds them as Debian builds its own (hardened, under
# /usr) and runs lintian on them. Included from packaging/install.cmake.

# The Debian changelog is where the packages' revision comes from (and the
# man page's date, see install.cmake).
set(VELACCAP_DEB_CHANGELOG ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
file(STRINGS ${VELACCAP_DEB_CHANGELOG} top LIMIT_COUNT 1)
if(NOT top MATCHES "^velaccap \\(([^-)]+)-([^)]+)\\)")
  message(FATAL_ERROR "packaging/debian/changelog: no version on its first line: ${top}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/debian/changelog names ${CMAKE_MATCH_1}, the project ${PROJECT_VERSION}: add an entry")
endif()
set(VELACCAP_DEB_REVISION ${CMAKE_MATCH_2})

set(deb_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc)
set(deb_packages tool apupgrade lib libvelaccap1 dev libvelaccap-dev)

# Each package's copyright and compressed changelog; gzip -n keeps the
# archives free of time stamps, so two builds give the same bytes.
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/changelog.Debian.gz
  COMMAND ${GZIP} -9nc ${VELACCAP_DEB_CHANGELOG} > ${PROJECT_BINARY_DIR}/changelog.Debian.gz
  DEPENDS ${VELACCAP_DEB_CHANGELOG})
add_custom_target(velaccap_deb_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.Debian.gz)
while(deb_packages)
  list(POP_FRONT deb_packages component package)
  string(TOUPPER ${component} COMPONENT)
  # Only in the packages (a component's install), not in `cmake --install`.
  install(FILES packaging/debian/copyright ${PROJECT_BINARY_DIR}/changelog.Debian.gz
          DESTINATION ${deb_doc}/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
  # The tags lintian is told to leave alone, each with its reason.
  configure_file(packaging/debian/lintian-overrides ${PROJECT_BINARY_DIR}/lintian/${package} @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/lintian/${package} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
          COMPONENT ${component} EXCLUDE_FROM_ALL)
  set(CPACK_DEBIAN_${COMPONENT}_PACKAGE_NAME ${package})
endwhile()

set(CPACK_PACKAGE_NAME velaccap)
# Each package's summary is the first line of its description below; CPack
# puts the project's before it unless the summary is CPack's default.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGE_VENDOR "Velaccap Maintainers")
set(CPACK_PACKAGE_CONTACT "Velaccap Maintainers <maintainers@velaccap.org>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VELACCAP_DEB_REVISION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool lib dev)

set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOL_DESCRIPTION "upgrade an account set's ledger from 8.12 to 8.20
apupgrade migrates the receivables and payables ledger of one account set
from an 8.12 database (SQLite or Access) into an 8.20 database (SQLite, or
SQL Server over ODBC), checks both databases first, and reconciles the
target with the source before it commits. It also migrates many account
sets in a batch, and writes samples and empty targets.")
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIB_DESCRIPTION "account set ledger upgrade from 8.12 to 8.20 - library
libVelAccAP migrates the receivables and payables ledger of an account set
from an 8.12 database into an 8.20 one. It offers a C interface for host
programs and holds the code the apupgrade tool runs.")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "account set ledger upgrade from 8.12 to 8.20 - development files
The C header of libVelAccAP, the link to the library, and the files by which
pkg-config (velaccap) and CMake (find_package(VelAccAP)) find it.")

# Dependencies as dpkg-shlibdeps finds them in the binaries; the library
# tells it, by its shlibs file, that the tool needs libvelaccap1.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_DEV_DEPENDS lib)
set(CPACK_COMPONENT_TOOL_DEPENDS lib)
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
# CPack adds ldconfig calls as postinst and postrm scripts to a package with a
# library; the trigger above does that work, so they are taken out again.
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/deb_without_ldconfig_scripts.cmake)
set(CPACK_STRIP_FILES ON)
include(CPack)
