# Warnings for our own code; third-party headers come in as system includes.
add_library(velta36_warnings INTERFACE)
target_compile_options(velta36_warnings INTERFACE -Wall -Wextra)
if(VELTA36_WERROR)
  target_compile_options(velta36_warnings INTERFACE -Werror)
endif()

# The plug-in, the host contract and whatever builds against the real ODB
# headers stay C++14; tools and tests may use C++17.
function(velta36_cxx14 target)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 14 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
endfunction()
function(velta36_cxx17 target)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
endfunction()
