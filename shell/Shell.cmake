# The main window's decisions in plain C++: flags, enabling rules, cycle, command-line mode.
add_library(velt_shell STATIC ${CMAKE_CURRENT_LIST_DIR}/MainWindowLogic.cpp
                              ${CMAKE_CURRENT_LIST_DIR}/DesktopLauncher.cpp)
target_include_directories(velt_shell PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(velt_shell PUBLIC velt_settings velt_workbook_ops velt_engine
                                 PRIVATE velt_options)

velt_add_test(main_window_logic_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/MainWindowLogic_test.cpp
              LIBS velt_shell velt_engine_testing velt_spreadsheet)
