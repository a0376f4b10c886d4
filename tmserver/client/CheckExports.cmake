# Fails unless the library's dynamic symbol table defines exactly the nine tmc* functions and
# the two extensions (batch, link events).
execute_process(COMMAND nm -D --defined-only ${LIBRARY} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${out}")
set(names)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* " "" name "${line}")
  list(APPEND names ${name})
endforeach()
list(SORT names)
set(want tmcAccumFull tmcAnalog tmcBatch tmcConnect tmcDisconnect tmcEnumObjects tmcGetObjectName
         tmcIsConnected tmcSetLinkCallback tmcStatus tmcSystemTime)
if(NOT names STREQUAL want)
  message(FATAL_ERROR "exported: ${names}\nwanted: ${want}")
endif()
