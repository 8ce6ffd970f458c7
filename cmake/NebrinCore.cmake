# nebrin_core_library(NAME [DEPS ...]): a Qt-free library made of every .cpp
# directly in the calling folder. Headers are included as "folder/File.h".
function(nebrin_core_library name)
  cmake_parse_arguments(L "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${L_DEPS} Threads::Threads ${CMAKE_DL_LIBS})
    # Qt-free: nothing for moc to do.
    set_target_properties(${name} PROPERTIES AUTOMOC OFF)
    nebrin_warnings(${name})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${L_DEPS} Threads::Threads ${CMAKE_DL_LIBS})
  endif()
endfunction()

# Adds every listed sub-folder of the calling folder that has a CMakeLists.txt.
function(nebrin_optional_subdirs)
  foreach(sub ${ARGN})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${sub}/CMakeLists.txt)
      add_subdirectory(${sub})
    endif()
  endforeach()
endfunction()
