# What `cmake --install` puts under its prefix, in three components that
# `cpack -G DEB` makes into the Debian packages apupgrade (tool),
# libvelaccap1 (lib) and libvelaccap-dev (dev); see packaging/deb.cmake.
# Included from the top-level CMakeLists.txt.
include(CMakePackageConfigHelpers)

install(TARGETS apupgrade RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
install(TARGETS VelAccAP EXPORT VelAccAPTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Only the C interface: the library exports nothing else, so the C++ headers
# (clsAPA812.h and the data-access interfaces) would declare what no
# installed library defines.
install(FILES include/velaccap/capi.h ${PROJECT_BINARY_DIR}/include/velaccap/version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velaccap COMPONENT dev)

# pkg-config: paths relative to the .pc file, so the tree can be moved.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(VELACCAP_PC_PREFIX "")
  set(VELACCAP_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
  set(VELACCAP_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
else()
  file(RELATIVE_PATH VELACCAP_PC_PREFIX "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
  set(VELACCAP_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
  set(VELACCAP_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
configure_file(packaging/velaccap.pc.in ${PROJECT_BINARY_DIR}/velaccap.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/velaccap.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# find_package(VelAccAP) and the target VelAccAP::VelAccAP.
set(VELACCAP_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VelAccAP)
install(EXPORT VelAccAPTargets NAMESPACE VelAccAP:: DESTINATION ${VELACCAP_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(packaging/VelAccAPConfig.cmake.in ${PROJECT_BINARY_DIR}/VelAccAPConfig.cmake
                              INSTALL_DESTINATION ${VELACCAP_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VelAccAPConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VelAccAPConfig.cmake ${PROJECT_BINARY_DIR}/VelAccAPConfigVersion.cmake
        DESTINATION ${VELACCAP_CMAKE_DIR} COMPONENT dev)

# The man page, written from the tool's own help (packaging/man_page.cmake)
# and installed compressed, as Debian has man pages. Its date is the
# release's, from the Debian changelog, unless SOURCE_DATE_EPOCH is set.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(VELACCAP_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog signature REGEX "^ -- ")
  list(GET signature 0 signature)
  string(REGEX REPLACE "^.*>  " "" signature "${signature}")
  find_program(DATE date REQUIRED)
  execute_process(COMMAND ${DATE} -u -d "${signature}" +%s OUTPUT_VARIABLE VELACCAP_DATE_EPOCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endif()
set(man ${PROJECT_BINARY_DIR}/apupgrade.1)
find_program(GZIP gzip REQUIRED)
add_custom_command(
  OUTPUT ${man} ${man}.gz
  # A sanitized build's tool must not fail the page on a leak report.
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 SOURCE_DATE_EPOCH=${VELACCAP_DATE_EPOCH}
          ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:apupgrade> -DVERSION=${PROJECT_VERSION} -DOUT=${man}
          -P ${PROJECT_SOURCE_DIR}/packaging/man_page.cmake
  COMMAND ${GZIP} -9nf --keep ${man}
  DEPENDS apupgrade ${PROJECT_SOURCE_DIR}/packaging/man_page.cmake
  COMMENT "Writing the man page apupgrade.1 from the tool's help"
  VERBATIM)
add_custom_target(apupgrade_man ALL DEPENDS ${man} ${man}.gz)
install(FILES ${man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)

install(FILES packaging/apupgrade.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME apupgrade COMPONENT tool)
# The target schemas, for creating the SQL Server database from the
# installed files; and the 8.12 one the samples follow.
install(FILES schema/target_820_mssql.sql schema/target_820.sql schema/source_812.sql
        DESTINATION ${CMAKE_INSTALL_DATADIR}/velaccap COMPONENT tool)


include(packaging/deb.cmake)
