# One INTERFACE target carries the language level, warnings and sanitizer flags; every target links it.
add_library(velt_options INTERFACE)
target_compile_features(velt_options INTERFACE cxx_std_20)
target_compile_options(velt_options INTERFACE -Wall -Wextra -Werror)
# GCC 12 reports -Wrestrict falsely at -O3 for "literal" + std::string (GCC bug 105329).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(velt_options INTERFACE -Wno-restrict)
endif()
if(VELT_SANITIZE)
  target_compile_options(velt_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                -fno-sanitize-recover=undefined)
  target_link_options(velt_options INTERFACE -fsanitize=address,undefined)
endif()

include(GoogleTest)

# velt_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS l1 l2] [TIMEOUT s])
# One test executable per call, linked only to what it tests plus GoogleTest.
function(velt_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE velt_options ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                       PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()
