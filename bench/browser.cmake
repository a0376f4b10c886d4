# Browser reload (50 channels x 100 RTUs) and listing (1 000 points) in the real window, offscreen,
# against tmsim.
add_executable(bench_browser ${CMAKE_CURRENT_LIST_DIR}/bench_browser.cpp)
target_link_libraries(bench_browser PRIVATE velt_gui velt_tmaccess velt_tmsim_testing velt_options
                                            velt_qt_options)
