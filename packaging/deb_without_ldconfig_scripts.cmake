# Run by cpack after it made the packages (CPACK_POST_BUILD_SCRIPTS): takes
# the postinst and postrm that only call ldconfig out of the library's
# package, whose ldconfig trigger does the same.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name ${deb} NAME)
  if(NOT name MATCHES "^libvelaccap[0-9]+_.*\\.deb$")
    continue()
  endif()
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb -R ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  foreach(script postinst postrm)
    file(READ ${tree}/DEBIAN/${script} text)
    # Anything else in them would be work of ours to keep.
    string(REGEX REPLACE "#[^\n]*\n|set -e\n|if \\[ \"\\$1\" = \"(configure|remove)\" \\]; then\n|ldconfig\n|fi\n|[ \t\n]" ""
           rest "${text}")
    if(NOT rest STREQUAL "")
      message(FATAL_ERROR "${name}: ${script} does more than call ldconfig:\n${text}")
    endif()
    file(REMOVE ${tree}/DEBIAN/${script})
  endforeach()
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz --build ${tree} ${deb} OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
