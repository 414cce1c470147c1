# FDICopy over an in-memory cabinet. The decoder is instrumented for
# coverage and checked with AddressSanitizer and UBSan.
add_executable(cab_fuzz ${CMAKE_CURRENT_LIST_DIR}/cab_fuzz.cpp)
target_link_libraries(cab_fuzz PRIVATE cab)
patcher_target_options(cab_fuzz)
target_compile_options(cab_fuzz PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
target_link_options(cab_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
target_compile_options(cab PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined)
