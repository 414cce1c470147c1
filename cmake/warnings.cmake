# Compile options for our own targets (not for third-party code built here).
function(patcher_target_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-missing-field-initializers)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 reports impossible overlaps inside std::string's own inlined
    # code (GCC bug 105329); the warning says nothing about our code there.
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(PATCHER_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(PATCHER_SANITIZE)
    # A finding ends the process, so the test that met it fails.
    target_compile_options(${target} PRIVATE -fsanitize=${PATCHER_SANITIZE} -fno-sanitize-recover=all
                           -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=${PATCHER_SANITIZE})
  endif()
  if(PATCHER_FUZZ)
    # Coverage for the fuzzer in all our code, so it learns the engine's
    # parsers as well as the decoders.
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
  if(WIN32)
    # A self-contained executable: no libgcc/libstdc++/winpthread DLLs beside it.
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
    target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  endif()
endfunction()

# A library of one subsystem folder: sources, public include root at the
# repository top, and its (strictly lower) dependencies.
function(patcher_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;SYSLIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} ${ARG_SYSLIBS})
  patcher_target_options(${name})
endfunction()
