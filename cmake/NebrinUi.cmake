# nebrin_ui_library(NAME [EXCLUDE file...] DEPS ...): the Qt windows of the
# calling folder as one static library, made of every .cpp directly in it
# (less EXCLUDE), with moc. DEPS are linked publicly.
function(nebrin_ui_library name)
  cmake_parse_arguments(L "" "" "EXCLUDE;DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  foreach(excluded ${L_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${L_DEPS} Qt6::Widgets)
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  nebrin_warnings(${name})
endfunction()
