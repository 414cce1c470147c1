add_executable(delta_bench ${CMAKE_CURRENT_LIST_DIR}/delta_bench.cpp)
target_link_libraries(delta_bench PRIVATE delta streams patch_log platform)
patcher_target_options(delta_bench)
