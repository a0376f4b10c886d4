# UNO C++ headers generated from the installed LibreOffice type libraries, and the URE libraries.
#
#   velt_uno_headers(<target> TYPES <type>...)
#
# makes the INTERFACE target <target>: the generated headers of the named types and of every type
# they depend on (cppumaker follows the dependencies), the SDK headers, the compile definitions
# the SDK expects and the four URE libraries. Generation runs once per build tree and again only
# when the type libraries or the list change: a stamp file records it.
include_guard(GLOBAL)

set(VELT_LO_PROGRAM_DIR /usr/lib/libreoffice/program
    CACHE PATH "LibreOffice program directory (type libraries, fundamentalrc)")
set(VELT_LO_SDK_DIR /usr/lib/libreoffice/sdk CACHE PATH "LibreOffice SDK directory")

find_program(VELT_CPPUMAKER cppumaker HINTS ${VELT_LO_SDK_DIR}/bin NO_DEFAULT_PATH REQUIRED)
set(VELT_UNO_TYPE_LIBRARIES ${VELT_LO_PROGRAM_DIR}/types.rdb ${VELT_LO_PROGRAM_DIR}/types/offapi.rdb)
foreach(rdb IN LISTS VELT_UNO_TYPE_LIBRARIES)
  if(NOT EXISTS ${rdb})
    message(FATAL_ERROR "UNO type library ${rdb} not found (package libreoffice-dev / ure)")
  endif()
endforeach()

foreach(lib uno_cppu uno_cppuhelpergcc3 uno_sal uno_salhelpergcc3)
  find_library(VELT_LIB_${lib} ${lib} PATHS ${VELT_LO_SDK_DIR}/lib NO_DEFAULT_PATH REQUIRED)
endforeach()

# Types the SDK's own helper headers (cppuhelper, cppu) include without naming them to cppumaker.
set(VELT_UNO_BASE_TYPES
    com.sun.star.uno.XInterface com.sun.star.uno.XWeak com.sun.star.uno.XAggregation
    com.sun.star.uno.XCurrentContext com.sun.star.uno.XComponentContext
    com.sun.star.uno.DeploymentException com.sun.star.uno.RuntimeException
    com.sun.star.lang.XTypeProvider com.sun.star.lang.XComponent com.sun.star.lang.XEventListener
    com.sun.star.lang.XMultiComponentFactory com.sun.star.lang.XMultiServiceFactory
    com.sun.star.lang.XSingleComponentFactory com.sun.star.lang.XSingleServiceFactory
    com.sun.star.registry.XRegistryKey com.sun.star.lang.DisposedException)

function(velt_uno_headers target)
  cmake_parse_arguments(U "" "" "TYPES" ${ARGN})
  set(out ${CMAKE_BINARY_DIR}/uno-headers/${target})
  set(stamp ${out}.stamp)
  set(types ${VELT_UNO_BASE_TYPES} ${U_TYPES})
  list(REMOVE_DUPLICATES types)
  list(SORT types)
  set(type_args)
  foreach(t IN LISTS types)
    list(APPEND type_args -T${t})
  endforeach()
  # The list itself is an input: a changed list regenerates.
  string(SHA1 list_hash "${types}")
  set(list_file ${out}.types)
  file(CONFIGURE OUTPUT ${list_file} CONTENT "${list_hash}\n")
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND ${VELT_CPPUMAKER} -O${out} ${type_args} ${VELT_UNO_TYPE_LIBRARIES}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${VELT_UNO_TYPE_LIBRARIES} ${list_file}
    COMMENT "Generating UNO C++ headers for ${target}"
    VERBATIM)
  add_custom_target(${target}_generate DEPENDS ${stamp})

  add_library(${target} INTERFACE)
  add_dependencies(${target} ${target}_generate)
  # SYSTEM: the SDK's headers are not held to our warning flags.
  target_include_directories(${target} SYSTEM INTERFACE ${out} ${VELT_LO_SDK_DIR}/include)
  target_compile_definitions(${target} INTERFACE UNX GCC LINUX CPPU_ENV=gcc3)
  target_link_libraries(${target} INTERFACE ${VELT_LIB_uno_cppu} ${VELT_LIB_uno_cppuhelpergcc3}
                                             ${VELT_LIB_uno_sal} ${VELT_LIB_uno_salhelpergcc3})
  # The SDK's libraries are links into program/, whose private dependencies (unoidl, xmlreader,
  # reg) are found from there only.
  target_link_options(${target} INTERFACE "LINKER:-rpath,${VELT_LO_PROGRAM_DIR}")
  target_compile_definitions(${target} INTERFACE
                             VELT_URE_FUNDAMENTALRC="${VELT_LO_PROGRAM_DIR}/fundamentalrc")
endfunction()
