# Warnings for the project's own targets: nebrin_warnings(target)
function(nebrin_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wno-unused-parameter)
endfunction()
