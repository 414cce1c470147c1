if(WIN32)
  return()  # posix_spawn and cabextract: a native benchmark
endif()
add_executable(cab_bench ${CMAKE_CURRENT_LIST_DIR}/cab_bench.cpp)
target_link_libraries(cab_bench PRIVATE cab platform)
patcher_target_options(cab_bench)
target_compile_definitions(cab_bench PRIVATE PATCHER_TESTDATA_DIR="${PATCHER_TESTDATA_DIR}"
                                             PATCHTOOL_PATH="$<TARGET_FILE:patchtool>")
add_dependencies(cab_bench patchtool)
