# Our delta encoder on arbitrary pairs, its deltas rebuilt by the memory
# and in-place decoders. Encoder and decoder are instrumented for coverage
# and checked with AddressSanitizer and UBSan.
add_executable(encoder_fuzz ${CMAKE_CURRENT_LIST_DIR}/encoder_fuzz.cpp)
target_link_libraries(encoder_fuzz PRIVATE publish delta streams patch_log platform)
patcher_target_options(encoder_fuzz)
target_compile_options(encoder_fuzz PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
target_link_options(encoder_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
target_compile_options(publish PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined)
