# Writes a help2man include file whose COMMANDS section holds each
# command's own --help, so that the man page says what
# `apupgrade COMMAND --help` says. The commands are read from the tool's
# help, so a new command appears without a change here.
#   cmake -DTOOL=... -DOUT=... -P man_commands.cmake
execute_process(COMMAND ${TOOL} --help OUTPUT_VARIABLE top RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${TOOL} --help exited ${rc}")
endif()
string(REGEX MATCH "\nCommands:\n([^\n]+\n)+" listing "${top}")
string(REGEX MATCHALL "\n  [a-z][a-z0-9-]*" names "${listing}")
if(NOT names)
  message(FATAL_ERROR "no commands found in the help of ${TOOL}")
endif()
set(text "[COMMANDS]\n")
foreach(name ${names})
  string(STRIP "${name}" command)
  execute_process(COMMAND ${TOOL} ${command} --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${TOOL} ${command} --help exited ${rc}")
  endif()
  # roff: a line starting with '.' or "'" would be read as a request, and
  # '\' starts an escape.
  string(REPLACE "\\" "\\e" help "${help}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
  string(APPEND text ".SS ${command}\n.nf\n${help}.fi\n")
endforeach()
file(WRITE ${OUT} "${text}")
