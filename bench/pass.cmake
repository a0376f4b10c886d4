# Update pass benchmarks. The tmsim and LibreOffice variants join when their parts are built.
add_executable(bench_pass ${CMAKE_CURRENT_SOURCE_DIR}/bench_pass.cpp)
target_link_libraries(bench_pass PRIVATE velt_bench_sheets)
target_link_libraries(bench_pass PRIVATE velt_options velt_engine velt_engine_testing
                      benchmark::benchmark)
if(TARGET velt_tmsim_testing AND TARGET velt_tmaccess)
  target_compile_definitions(bench_pass PRIVATE VELT_BENCH_TMSIM)
  target_link_libraries(bench_pass PRIVATE velt_tmsim_testing velt_tmaccess)
  if(TARGET velt_libreoffice)
    target_compile_definitions(bench_pass PRIVATE VELT_BENCH_LIBREOFFICE)
    target_link_libraries(bench_pass PRIVATE velt_libreoffice)
  endif()
endif()
