# Message catalogues: a program's Russian .po compiled with msgfmt (Debian package gettext) into
# ${VELT_LOCALE_DIR}/ru/LC_MESSAGES/<domain>.mo. The programs look there first, then in the
# system's locale folder.
find_program(VELT_MSGFMT msgfmt REQUIRED)
set(VELT_LOCALE_DIR ${CMAKE_BINARY_DIR}/locale)

# velt_add_translation(<program target> <domain> <ru.po>)
function(velt_add_translation target domain po)
  set(mo ${VELT_LOCALE_DIR}/ru/LC_MESSAGES/${domain}.mo)
  add_custom_command(
    OUTPUT ${mo}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VELT_LOCALE_DIR}/ru/LC_MESSAGES
    COMMAND ${VELT_MSGFMT} --check --output-file=${mo} ${po}
    DEPENDS ${po}
    COMMENT "Compiling the ${domain} catalogue")
  add_custom_target(${target}_catalogue DEPENDS ${mo})
  install(FILES ${mo} DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/ru/LC_MESSAGES)
  add_dependencies(${target} ${target}_catalogue)
  target_compile_definitions(
    ${target} PRIVATE VELT_TEXT_DOMAIN="${domain}" VELT_BUILD_LOCALE_DIR="${VELT_LOCALE_DIR}"
                      VELT_SYSTEM_LOCALE_DIR="${CMAKE_INSTALL_FULL_LOCALEDIR}"
                      VELT_VERSION="${PROJECT_VERSION}")
endfunction()
