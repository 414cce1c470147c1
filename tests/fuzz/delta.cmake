# The memory decoder (and beside it the in-place decoder and CanPatchInPlace)
# on an arbitrary original and delta, checked against a plain model of the
# format. The decoder is instrumented for coverage and checked with
# AddressSanitizer and UBSan.
add_executable(delta_fuzz ${CMAKE_CURRENT_LIST_DIR}/delta_fuzz.cpp)
target_link_libraries(delta_fuzz PRIVATE delta streams patch_log platform)
patcher_target_options(delta_fuzz)
target_compile_options(delta_fuzz PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
target_link_options(delta_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
foreach(lib delta streams)
  target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined)
endforeach()
