# Read by cpack before it makes the package. A provider's package
# (cpack -D NEBRIN_PACKAGE_PROVIDER=NAME -D NEBRIN_PACKAGE_THEME=PKG.nbt)
# names the provider in its description and carries the provider's theme in
# place of the default one (copied in by PreBuild.cmake).
if(NEBRIN_PACKAGE_PROVIDER MATCHES "[\n\r\t]" OR NEBRIN_PACKAGE_PROVIDER MATCHES "^ | $")
  message(FATAL_ERROR "NEBRIN_PACKAGE_PROVIDER: one line without leading or trailing blanks, please")
endif()
if(NEBRIN_PACKAGE_PROVIDER)
  set(synopsis "PPPoE dialer for the subscribers of ${NEBRIN_PACKAGE_PROVIDER}")
  set(theme_line "This copy carries the theme of ${NEBRIN_PACKAGE_PROVIDER}.")
else()
  set(synopsis "PPPoE dialer for an internet provider's subscribers")
  set(theme_line "This copy carries the default theme; a provider makes a package of its\nown with its theme.")
endif()
string(LENGTH "${synopsis}" synopsis_length)
if(synopsis_length GREATER 80)
  message(FATAL_ERROR "NEBRIN_PACKAGE_PROVIDER: the name makes the package's synopsis longer than 80 characters")
endif()
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${synopsis}")
# (cpack puts the synopsis in front of the extended description.)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "A small skinned window at the bottom right of the desktop, with an icon in
the notification area, that opens, watches and closes the PPPoE connection
to the provider. It shows the line's download and upload speeds and totals,
keeps a log of the connection attempt, redials a dropped line and shows the
provider's pages.

${theme_line}")

if(NEBRIN_PACKAGE_THEME)
  if(NOT IS_ABSOLUTE "${NEBRIN_PACKAGE_THEME}" OR NOT EXISTS "${NEBRIN_PACKAGE_THEME}"
     OR IS_DIRECTORY "${NEBRIN_PACKAGE_THEME}")
    message(FATAL_ERROR "NEBRIN_PACKAGE_THEME: no theme package at ${NEBRIN_PACKAGE_THEME} (an absolute path, please)")
  endif()
  execute_process(COMMAND ${CPACK_NEBRIN_THEME_TOOL} verify ${NEBRIN_PACKAGE_THEME}
                  RESULT_VARIABLE verified OUTPUT_VARIABLE verify_out ERROR_VARIABLE verify_out)
  if(NOT verified EQUAL 0)
    message(FATAL_ERROR "Not a theme the program loads: ${NEBRIN_PACKAGE_THEME}\n${verify_out}")
  endif()
endif()
