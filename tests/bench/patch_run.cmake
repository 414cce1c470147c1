add_executable(patch_run_bench ${CMAKE_CURRENT_LIST_DIR}/patch_run_bench.cpp
  ${PROJECT_SOURCE_DIR}/tests/e2e/engine_run.cpp ${PROJECT_SOURCE_DIR}/tests/cab/sha256.cpp)
target_link_libraries(patch_run_bench PRIVATE engine apply test_support)
patcher_target_options(patch_run_bench)
add_executable(sample_run_bench ${CMAKE_CURRENT_LIST_DIR}/sample_run_bench.cpp
  ${PROJECT_SOURCE_DIR}/tests/e2e/engine_run.cpp ${PROJECT_SOURCE_DIR}/tests/cab/sha256.cpp)
target_link_libraries(sample_run_bench PRIVATE engine apply test_support)
patcher_target_options(sample_run_bench)
