# Run by cpack after it has installed (and stripped) the files into its
# staging folder, before it makes the package.
set(staged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")

# The compiler's notes go too, as Debian's own packages have them removed.
file(GLOB_RECURSE candidates "${staged}/bin/*" "${staged}/lib/*" "${staged}/libexec/*")
foreach(file IN LISTS candidates)
  file(READ "${file}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    execute_process(COMMAND ${CPACK_NEBRIN_STRIP} --remove-section=.comment --remove-section=.note "${file}"
                    RESULT_VARIABLE stripped)
    if(NOT stripped EQUAL 0)
      message(FATAL_ERROR "strip failed on ${file}")
    endif()
  endif()
endforeach()

# A provider's theme takes the default theme's place.
if(NEBRIN_PACKAGE_THEME)
  set(target "${staged}/${CPACK_NEBRIN_THEME_PATH}")
  if(NOT EXISTS "${target}")
    message(FATAL_ERROR "the default theme is not at ${target}")
  endif()
  file(COPY_FILE "${NEBRIN_PACKAGE_THEME}" "${target}")
  file(CHMOD "${target}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
