add_executable(patch_run_bench ${CMAKE_CURRENT_LIST_DIR}/patch_run_bench.cpp
  ${PROJECT_SOURCE_DIR}/tests/e2e/engine_run.cpp ${PROJECT_SOURCE_DIR}/tests/cab/sha256.cpp)
target_link_libraries(patch_run_bench PRIVATE engine apply test_support)
patcher_target_options(patch_run_bench)
add_executable(sample_run_bench ${CMAKE_CURRENT_LIST_DIR}/sample_run_bench.cpp
  ${PROJECT_SOURCE_DIR}/tests/e2e/engine_run.cpp ${PROJECT_SOURCE_DIR}/tests/cab/sha256.cpp)
target_link_libraries(sample_run_bench PRIVATE engine apply test_support)
patcher_target_options(sample_run_bench)
if(NOT WIN32)
  # Drives python3, nginx, curl, cabextract and patchtool: a native benchmark.
  find_package(Python3 COMPONENTS Interpreter)
  add_executable(whole_run_bench ${CMAKE_CURRENT_LIST_DIR}/whole_run_bench.cpp
    ${PROJECT_SOURCE_DIR}/tests/e2e/engine_run.cpp ${PROJECT_SOURCE_DIR}/tests/cab/sha256.cpp)
  target_link_libraries(whole_run_bench PRIVATE engine apply test_support)
  patcher_target_options(whole_run_bench)
  add_dependencies(whole_run_bench patchtool)
  target_compile_definitions(whole_run_bench PRIVATE PATCHTOOL_PATH="$<TARGET_FILE:patchtool>"
    PYTHON_PATH="${Python3_EXECUTABLE}" SYNTHETIC_GAME="${PROJECT_SOURCE_DIR}/scripts/synthetic_game.py")
endif()
