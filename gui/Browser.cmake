# The telemetry browser's window, its tryout program and its tests.
target_sources(velt_gui PRIVATE ${CMAKE_CURRENT_LIST_DIR}/BrowserWindow.cpp
                                ${CMAKE_CURRENT_LIST_DIR}/BrowserQSettings.cpp
                                ${CMAKE_CURRENT_LIST_DIR}/browser.qrc)
target_link_libraries(velt_gui PUBLIC velt_browser)

# The browser alone on a connection of its own, until the main window shows it.
find_package(CLI11 CONFIG REQUIRED)
add_executable(veltexcel-browser ${CMAKE_CURRENT_LIST_DIR}/BrowserMain.cpp)
target_link_libraries(veltexcel-browser PRIVATE velt_gui velt_tmaccess CLI11::CLI11 velt_options
                                                velt_qt_options)

add_executable(browser_window_test ${CMAKE_CURRENT_LIST_DIR}/BrowserWindow_test.cpp)
target_link_libraries(browser_window_test PRIVATE velt_gui velt_engine_testing Qt6::Test
                                                  velt_options velt_qt_options)
add_test(NAME browser_window_test COMMAND browser_window_test)
set_tests_properties(browser_window_test PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen
                                                    TIMEOUT 120)

# The real window on a virtual X display against tmsim, with one real drag through xdotool;
# leaves browser.png in the build folder.
add_executable(browser_screenshot_test ${CMAKE_CURRENT_LIST_DIR}/BrowserScreenshot_test.cpp)
target_link_libraries(browser_screenshot_test PRIVATE velt_gui velt_tmaccess velt_tmsim_testing
                                                      Qt6::Test velt_options velt_qt_options)
add_test(NAME browser_screenshot_test
         COMMAND browser_screenshot_test ${CMAKE_BINARY_DIR}/browser.png)
set_tests_properties(browser_screenshot_test PROPERTIES TIMEOUT 120 LABELS xvfb)
