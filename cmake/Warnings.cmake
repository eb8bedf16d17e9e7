# Our own code builds warning-free with -Wall -Wextra; third-party code is compiled with -w.
function(pomaro_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(POMARO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
