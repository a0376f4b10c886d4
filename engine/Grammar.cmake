# The data sheet's grammar: address patterns, commands and archive numbers over ScanFormatted.
add_library(velt_grammar STATIC ${CMAKE_CURRENT_LIST_DIR}/Grammar.cpp)
target_include_directories(velt_grammar PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(velt_grammar PUBLIC velt_scanner PRIVATE velt_options)

velt_add_test(grammar_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/Grammar_test.cpp LIBS velt_grammar)
