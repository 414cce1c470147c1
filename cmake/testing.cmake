# GoogleTest is built from the Debian source package for every build, so
# the mingw builds link a GoogleTest compiled with their own compiler.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
if(EXISTS /usr/src/googletest/CMakeLists.txt)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
endif()
if(PATCHER_SANITIZE AND TARGET gtest)
  foreach(t gtest gtest_main gmock gmock_main)
    target_compile_options(${t} PRIVATE -fsanitize=${PATCHER_SANITIZE})
  endforeach()
endif()

# One test executable per subsystem; each becomes one CTest test that runs
# natively, or under wine64 through the cross-compiling emulator.
function(patcher_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} test_support GTest::gmock GTest::gtest_main)
  patcher_target_options(${name})
  target_compile_definitions(${name} PRIVATE PATCHER_TESTDATA_DIR="${PATCHER_TESTDATA_DIR}")
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
endfunction()

# Engine names are lower-cased in the system's code page, which under Wine
# follows the locale. The cases for Korean names (Cp949 in their test
# names) therefore run once more in the win64 build as a Korean system:
# LC_ALL=ko_KR.UTF-8, with that locale made for the run by localedef, as
# Wine needs a UTF-8 locale that exists to create Korean file names.
function(patcher_cp949_test name)
  if(NOT (WIN32 AND CMAKE_CROSSCOMPILING))
    return()
  endif()
  set(locales ${CMAKE_BINARY_DIR}/locale)
  get_property(made GLOBAL PROPERTY PATCHER_CP949_LOCALE)
  if(NOT made)
    file(MAKE_DIRECTORY ${locales})
    add_test(NAME cp949_locale COMMAND localedef -i ko_KR -f UTF-8 ${locales}/ko_KR.UTF-8)
    set_tests_properties(cp949_locale PROPERTIES FIXTURES_SETUP cp949_locale)
    set_property(GLOBAL PROPERTY PATCHER_CP949_LOCALE ON)
  endif()
  add_test(NAME ${name}_cp949 COMMAND ${name} --gtest_color=no --gtest_filter=*Cp949*)
  set_tests_properties(${name}_cp949 PROPERTIES FIXTURES_REQUIRED cp949_locale TIMEOUT 300
                       ENVIRONMENT "LC_ALL=ko_KR.UTF-8;LOCPATH=${locales}")
endfunction()

# The read-only cases (ReadOnly in their test names) of a native test
# binary run once more as "nobody" when ctest runs as root; in the root run
# they skip themselves (SKIP_READ_ONLY_CASE_AS_ROOT).
function(patcher_unprivileged_test name)
  if(WIN32)
    return()
  endif()
  add_test(NAME ${name}_unprivileged
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/run-unprivileged.sh $<TARGET_FILE:${name}> --gtest_color=no
                   --gtest_filter=*ReadOnly*)
  set_tests_properties(${name}_unprivileged PROPERTIES TIMEOUT 300)
endfunction()
