# Runs `patchtool crc` on known files and checks lines and exit status.
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
message(STATUS "patchtool crc: 3 cases passed")
