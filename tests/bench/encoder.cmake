if(WIN32)
  return()  # runs the data set's generator with python3: a native benchmark
endif()
find_package(Python3 COMPONENTS Interpreter)
add_executable(encoder_bench ${CMAKE_CURRENT_LIST_DIR}/encoder_bench.cpp)
target_link_libraries(encoder_bench PRIVATE publish platform)
patcher_target_options(encoder_bench)
target_compile_definitions(encoder_bench PRIVATE PATCHER_TESTDATA_DIR="${PATCHER_TESTDATA_DIR}"
  CMAKE_PATH="${CMAKE_COMMAND}" PYTHON_PATH="${Python3_EXECUTABLE}"
  REGEN_SCRIPT="${PROJECT_SOURCE_DIR}/tests/delta/regen_testdata.cmake")
