# One tmcAnalog round trip against tmsim, beside a bare TCP ping-pong of the same frame sizes.
add_executable(bench_tmconn ${CMAKE_CURRENT_LIST_DIR}/bench_tmconn.cpp)
target_link_libraries(bench_tmconn PRIVATE tmconn velt_tmsim_testing velt_options)
