# Cell traffic through the LibreOffice backend: cell by cell, and in bulk while screen updating
# is off. Needs soffice at run time.
if(TARGET velt_libreoffice)
  add_executable(bench_spreadsheet ${CMAKE_CURRENT_LIST_DIR}/bench_spreadsheet.cpp)
  target_link_libraries(bench_spreadsheet PRIVATE velt_options velt_libreoffice
                        benchmark::benchmark)
endif()
