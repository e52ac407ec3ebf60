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
