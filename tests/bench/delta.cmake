if(WIN32)
  return()  # rebuilds its data with the data set's python3 generator: a native benchmark
endif()
find_package(Python3 COMPONENTS Interpreter)
add_executable(delta_bench ${CMAKE_CURRENT_LIST_DIR}/delta_bench.cpp)
target_link_libraries(delta_bench PRIVATE delta streams patch_log platform)
patcher_target_options(delta_bench)
target_compile_definitions(delta_bench PRIVATE PATCHER_TESTDATA_DIR="${PATCHER_TESTDATA_DIR}"
  PYTHON_PATH="${Python3_EXECUTABLE}")
