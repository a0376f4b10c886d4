# The update pass. It needs only the TmOperations.h header of tmaccess/, not the library, so the
# engine stays free of sockets.
add_library(velt_engine STATIC
            ${CMAKE_CURRENT_SOURCE_DIR}/UpdateSheet.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/Progress.cpp)
target_include_directories(velt_engine PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}
                                              ${PROJECT_SOURCE_DIR}/tmaccess)
target_link_libraries(velt_engine PUBLIC velt_grammar velt_spreadsheet PRIVATE velt_options)

# A scripted TM layer for the tests of the pass and of its callers.
add_library(velt_engine_testing STATIC ${CMAKE_CURRENT_SOURCE_DIR}/testing/FakeTm.cpp)
target_include_directories(velt_engine_testing PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/testing
                                                      ${PROJECT_SOURCE_DIR}/tmaccess)
target_link_libraries(velt_engine_testing PRIVATE velt_options)

velt_add_test(fake_tm_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/testing/FakeTm_test.cpp
              LIBS velt_engine_testing)
velt_add_test(progress_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/Progress_test.cpp
              LIBS velt_engine)
velt_add_test(update_sheet_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/UpdateSheet_test.cpp
              LIBS velt_engine velt_engine_testing)

# One pass end to end on tmsim, libtmconn and a headless LibreOffice, once those parts are built.
if(TARGET velt_libreoffice AND TARGET velt_tmsim_testing AND TARGET velt_tmaccess)
  velt_add_test(update_sheet_soffice_test
                SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/UpdateSheetSoffice_test.cpp
                LIBS velt_engine velt_libreoffice velt_uno velt_tmsim_testing velt_tmaccess
                LABELS soffice TIMEOUT 900)
endif()
