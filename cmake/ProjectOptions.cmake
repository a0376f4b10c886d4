# One INTERFACE target carries the language level, warnings and sanitizer flags; every target links it.
add_library(velt_options INTERFACE)
target_compile_features(velt_options INTERFACE cxx_std_20)
target_compile_options(velt_options INTERFACE -Wall -Wextra -Wshadow -Wconversion -Wsign-conversion
                                              -Wpedantic)
if(VELT_WERROR)
  target_compile_options(velt_options INTERFACE -Werror)
endif()
# GCC 12 reports -Wrestrict falsely at -O3 for "literal" + std::string (GCC bug 105329).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(velt_options INTERFACE -Wno-restrict)
endif()
if(VELT_SANITIZE)
  target_compile_options(velt_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                -fno-sanitize-recover=undefined)
  target_link_options(velt_options INTERFACE -fsanitize=address,undefined)
endif()

# Qt code (gui/ only): no implicit conversions between 8-bit strings and QString, no narrowing
# in signal connections.
add_library(velt_qt_options INTERFACE)
target_link_libraries(velt_qt_options INTERFACE velt_options)
target_compile_definitions(velt_qt_options INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_CAST_FROM_BYTEARRAY QT_NO_URL_CAST_FROM_STRING
  QT_USE_QSTRINGBUILDER QT_NO_NARROWING_CONVERSIONS_IN_CONNECT QT_NO_FOREACH)

include(GoogleTest)

# velt_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS l1 l2] [TIMEOUT s] [SERIAL])
# One test executable per call, linked only to what it tests plus GoogleTest. SERIAL: its tests
# run alone (they drive a visible office through timing-sensitive paths).
function(velt_add_test name)
  cmake_parse_arguments(T "SERIAL" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE velt_options ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(serial OFF)
  if(T_SERIAL)
    set(serial ON)
  endif()
  # LABELS last: an empty list there must not shift the pairs after it.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                       PROPERTIES RUN_SERIAL ${serial} TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()

# A libFuzzer target over SOURCES (the code under test built with the fuzzer's coverage hooks),
# run for SECONDS as a CTest test labelled fuzz, with its corpus and crashes in WORK under the
# build folder. SEEDS: committed corpus folders that are only read (new inputs go to WORK). Needs
# clang; with another compiler the target is skipped.
function(velt_add_fuzzer name)
  cmake_parse_arguments(F "" "SECONDS;MAX_LEN;WORK" "SOURCES;INCLUDES;LIBS;SEEDS" ${ARGN})
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(STATUS "VELT_FUZZ: ${name} needs clang; skipped with ${CMAKE_CXX_COMPILER_ID}")
    return()
  endif()
  add_executable(${name} ${F_SOURCES})
  target_include_directories(${name} PRIVATE ${F_INCLUDES})
  target_link_libraries(${name} PRIVATE velt_options ${F_LIBS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${F_WORK})
  file(MAKE_DIRECTORY ${work}/corpus ${work}/artifacts)
  add_test(NAME ${name}
           COMMAND ${name} -max_total_time=${F_SECONDS} -max_len=${F_MAX_LEN} -timeout=10
                   -artifact_prefix=${work}/artifacts/ ${work}/corpus ${F_SEEDS}
           WORKING_DIRECTORY ${work})
  set_tests_properties(${name} PROPERTIES TIMEOUT 120 LABELS fuzz)
endfunction()

# Qt Widgets belong to gui/ alone: configuring fails when a target elsewhere links them (or the
# library that carries the windows).
function(velt_check_widgets_stay_in_gui dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  set(gui_dir ${CMAKE_SOURCE_DIR}/gui)
  cmake_path(IS_PREFIX gui_dir "${dir}" NORMALIZE in_gui)
  if(NOT in_gui)
    foreach(target IN LISTS targets)
      get_target_property(links ${target} LINK_LIBRARIES)
      get_target_property(interface_links ${target} INTERFACE_LINK_LIBRARIES)
      foreach(link IN LISTS links interface_links)
        if(link MATCHES "^(Qt6?::Widgets|velt_gui)$")
          message(FATAL_ERROR "${target} (${dir}) links ${link}: Qt Widgets belong to gui/ only")
        endif()
      endforeach()
    endforeach()
  endif()
  foreach(sub IN LISTS subdirs)
    velt_check_widgets_stay_in_gui(${sub})
  endforeach()
endfunction()
