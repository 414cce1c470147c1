# Runs `patchtool crc` on known files and checks lines and exit status,
# then the help, version and usage-error contract of the command line.
# Empty list elements count (the case with no arguments starts with one).
cmake_policy(SET CMP0007 NEW)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(WRITE "${WORK}/digits.txt" "123456789")
file(WRITE "${WORK}/empty.txt" "")

set(prefix "")
if(EMULATOR)
  set(prefix "Z:")  # Wine sees the Linux root as drive Z:
endif()

function(run_tool out_var status_var)
  execute_process(COMMAND ${EMULATOR} "${TOOL}" crc ${ARGN}
                  OUTPUT_VARIABLE out RESULT_VARIABLE status ERROR_QUIET)
  string(REPLACE "\r\n" "\n" out "${out}")
  set(${out_var} "${out}" PARENT_SCOPE)
  set(${status_var} "${status}" PARENT_SCOPE)
endfunction()

run_tool(out status "${prefix}${WORK}/digits.txt" "${prefix}${WORK}/empty.txt")
set(expected "0xcbf43926  ${prefix}${WORK}/digits.txt\n0x00000000  ${prefix}${WORK}/empty.txt\n")
if(NOT status EQUAL 0 OR NOT out STREQUAL expected)
  message(FATAL_ERROR "readable files: status ${status}, output:\n${out}\nexpected:\n${expected}")
endif()

run_tool(out status "${prefix}${WORK}/digits.txt" "${prefix}${WORK}/missing.bin")
set(expected "0xcbf43926  ${prefix}${WORK}/digits.txt\n0xffffffff  ${prefix}${WORK}/missing.bin\n")
if(NOT status EQUAL 1 OR NOT out STREQUAL expected)
  message(FATAL_ERROR "missing file: status ${status}, output:\n${out}\nexpected:\n${expected}")
endif()

run_tool(out status)
if(status EQUAL 0)
  message(FATAL_ERROR "no arguments must fail")
endif()

# Each case: arguments (";"-separated), exit status, the stream that must
# carry a usage text, and a text it must contain.
set(cases
  "--help|0|out|usage: patchtool COMMAND"
  "-h|0|out|usage: patchtool COMMAND"
  "crc,--help|0|out|usage: patchtool crc FILE"
  "patch,C,U,--help|0|out|usage: patchtool patch CLIENT_DIR"
  "--version|0|out|Halvrecht patcher version 28"
  "|2|err|usage: patchtool COMMAND"
  "no-such-command|2|err|unknown command 'no-such-command'"
  "patch|2|err|usage: patchtool patch"
  "repair,C|2|err|usage: patchtool repair CLIENT_DIR"
  "jdiff,a,b|2|err|usage: patchtool jdiff ORIG NEW DELTA"
  "build,--compression,lzx|2|err|LZX compression is not supported"
  "verify|2|err|usage: patchtool verify REPO"
  "init-client,tree|2|err|usage: patchtool init-client TREE VERSION")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 args)
  list(GET fields 1 want_status)
  list(GET fields 2 stream)
  list(GET fields 3 want_text)
  string(REPLACE "," ";" args "${args}")
  execute_process(COMMAND ${EMULATOR} "${TOOL}" ${args}
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  set(text "${${stream}}")
  string(FIND "${text}" "${want_text}" at)
  if(NOT status EQUAL want_status OR at EQUAL -1)
    message(FATAL_ERROR "patchtool '${args}': status ${status} (want ${want_status}), std${stream}:\n${text}\nwant: ${want_text}")
  endif()
endforeach()
message(STATUS "patchtool: 3 crc cases and the command-line cases passed")
