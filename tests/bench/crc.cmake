find_package(ZLIB REQUIRED)
add_executable(crc_bench ${CMAKE_CURRENT_LIST_DIR}/crc_bench.cpp)
target_link_libraries(crc_bench PRIVATE crc32 ZLIB::ZLIB)
patcher_target_options(crc_bench)
