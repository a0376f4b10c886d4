# Workbook and data-sheet operations over the spreadsheet interface: no UNO, part of the core.
add_library(velt_workbook_ops STATIC ${CMAKE_CURRENT_LIST_DIR}/WorkbookOperations.cpp)
target_include_directories(velt_workbook_ops PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(velt_workbook_ops PUBLIC velt_spreadsheet PRIVATE velt_options)
velt_add_test(workbook_operations_test
              SOURCES ${CMAKE_CURRENT_LIST_DIR}/WorkbookOperations_test.cpp
              LIBS velt_workbook_ops velt_spreadsheet)

# The same operations on a real headless LibreOffice.
if(NOT VELT_CORE_ONLY AND TARGET velt_libreoffice)
  velt_add_test(workbook_operations_soffice_test
                SOURCES ${CMAKE_CURRENT_LIST_DIR}/WorkbookOperationsSoffice_test.cpp
                LIBS velt_workbook_ops velt_libreoffice velt_uno
                LABELS soffice TIMEOUT 300)
endif()
