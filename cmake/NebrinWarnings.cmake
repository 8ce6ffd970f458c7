# Warnings for the project's own targets: nebrin_warnings(target)
function(nebrin_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wno-unused-parameter)
  if(NEBRIN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
    # GCC's flow analysis under the sanitizers reports "may be used
    # uninitialized" inside the standard library's own headers (<regex>,
    # std::function); those stay warnings there.
    if(NEBRIN_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_compile_options(${target} PRIVATE -Wno-error=maybe-uninitialized)
    endif()
  endif()
endfunction()
