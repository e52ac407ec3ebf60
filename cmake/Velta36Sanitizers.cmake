# Sanitizer builds. Brought in right after project() with
#
#   cmake -S . -B build-target-asan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
#         -DCMAKE_PROJECT_INCLUDE=cmake/Velta36Sanitizers.cmake -DVELTA36_SANITIZE=address,undefined
#
# so that every target of the tree (plug-in objects, reference host, runtime,
# tests, fuzz targets) is built and linked with the same checks. A report
# ends the process: nothing is allowed to recover and carry on.
set(VELTA36_SANITIZE "" CACHE STRING "Comma-separated -fsanitize= list (e.g. address,undefined); empty for none")

if(VELTA36_SANITIZE)
  message(STATUS "velta36: building with -fsanitize=${VELTA36_SANITIZE}")
  add_compile_options(-fsanitize=${VELTA36_SANITIZE} -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${VELTA36_SANITIZE} -fno-sanitize-recover=all)
endif()

# clang applies warning options in command-line order, so the targets' own
# -Wno-unknown-pragmas (for the "#pragma db" lines the ODB compiler reads)
# is undone by the -Wall that velta36_warnings appends after it. Once the
# whole tree is read, append it after -Wall as well (spelt through SHELL: so
# that CMake does not drop it as a duplicate of the earlier one).
# -Wpotentially-evaluated-expression (clang only) flags typeid(*p), which is
# how the tests name the dynamic type of an object on purpose.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  function(_velta36_clang_pragmas)
    if(TARGET velta36_warnings)
      target_compile_options(velta36_warnings INTERFACE "SHELL:-Wno-unknown-pragmas"
                             -Wno-potentially-evaluated-expression)
    endif()
  endfunction()
  cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL _velta36_clang_pragmas)
endif()
