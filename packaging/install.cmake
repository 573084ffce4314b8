# What `cmake --install` puts under its prefix, and the Debian package made
# of it by `cpack -G DEB`. Included from the top-level CMakeLists.txt.
include(CMakePackageConfigHelpers)

install(TARGETS apupgrade RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS VelAccAP EXPORT VelAccAPTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Only the C interface: the library exports nothing else, so the C++ headers
# (clsAPA812.h and the data-access interfaces) would declare what no
# installed library defines.
install(FILES include/velaccap/capi.h ${PROJECT_BINARY_DIR}/include/velaccap/version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velaccap)

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
install(FILES ${PROJECT_BINARY_DIR}/velaccap.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# find_package(VelAccAP) and the target VelAccAP::VelAccAP.
set(VELACCAP_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VelAccAP)
install(EXPORT VelAccAPTargets NAMESPACE VelAccAP:: DESTINATION ${VELACCAP_CMAKE_DIR})
configure_package_config_file(packaging/VelAccAPConfig.cmake.in ${PROJECT_BINARY_DIR}/VelAccAPConfig.cmake
                              INSTALL_DESTINATION ${VELACCAP_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VelAccAPConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VelAccAPConfig.cmake ${PROJECT_BINARY_DIR}/VelAccAPConfigVersion.cmake
        DESTINATION ${VELACCAP_CMAKE_DIR})

# The man page, made from the tool's own --help and --version; without
# help2man (Debian package help2man) the build goes on without it.
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(man_commands ${PROJECT_BINARY_DIR}/apupgrade.commands.h2m)
  add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/apupgrade.1
    # A sanitized build's tool must not fail the page on a leak report.
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:apupgrade> -DOUT=${man_commands}
            -P ${PROJECT_SOURCE_DIR}/packaging/man_commands.cmake
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            ${HELP2MAN} --no-info --section=1
            "--name=upgrade the receivables and payables ledger of an account set from 8.12 to 8.20"
            --include=${man_commands} --output=${PROJECT_BINARY_DIR}/apupgrade.1 $<TARGET_FILE:apupgrade>
    DEPENDS apupgrade ${PROJECT_SOURCE_DIR}/packaging/man_commands.cmake
    COMMENT "Writing the man page apupgrade.1 with help2man"
    VERBATIM)
  add_custom_target(apupgrade_man ALL DEPENDS ${PROJECT_BINARY_DIR}/apupgrade.1)
  install(FILES ${PROJECT_BINARY_DIR}/apupgrade.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no man page (apt-get install help2man)")
endif()

install(FILES packaging/apupgrade.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME apupgrade)
# The target schemas, for creating the SQL Server database from the
# installed files; and the 8.12 one the samples follow.
install(FILES schema/target_820_mssql.sql schema/target_820.sql schema/source_812.sql
        DESTINATION ${CMAKE_INSTALL_DATADIR}/velaccap)
# The JSON Schemas of the documents the tool and the library write.
install(DIRECTORY schema/json/ DESTINATION ${CMAKE_INSTALL_DATADIR}/velaccap/schema FILES_MATCHING PATTERN "*.schema.json")

set(CPACK_PACKAGE_NAME velaccap)
set(CPACK_PACKAGE_VENDOR "velaccap")
set(CPACK_PACKAGE_CONTACT "velaccap maintainers <velaccap@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "apupgrade and libVelAccAP: the ledger upgrade of an account set from an 8.12 database (SQLite or Access) into an 8.20 database (SQLite, or SQL Server over ODBC).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Dependencies as dpkg-shlibdeps finds them in the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
