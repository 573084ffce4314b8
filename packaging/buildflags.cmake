# VELACCAP_DPKG_BUILDFLAGS: compile and link with the hardening flags that
# dpkg-buildflags gives Debian's own packages (stack protector, fortified
# functions, read-only relocations, immediate binding, PIE), as
# scripts/package.sh does for the Debian packages. Off for other builds,
# whose optimisation and debug flags stay the build type's.
option(VELACCAP_DPKG_BUILDFLAGS "Add dpkg-buildflags' hardening flags (for the Debian packages)" OFF)
if(VELACCAP_DPKG_BUILDFLAGS)
  find_program(DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
  # C and C++ take the same flags from Debian; the C++ ones serve both.
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    # The build type chooses -O and -g; the prefix map is taken relative to
    # the source folder, so the binaries do not name the build machine's paths.
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all "DEB_CXXFLAGS_MAINT_STRIP=-g -O2"
              ${DPKG_BUILDFLAGS} --get ${kind}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    if(kind STREQUAL "LDFLAGS")
      add_link_options(${flags})
    else()
      add_compile_options(${flags})
    endif()
  endforeach()
endif()
