# Writes a C++ source defining kEmbeddedLoaderImage / kEmbeddedLoaderSize from the file INPUT
# (empty INPUT: an empty image). A file whose SHA-256 is not SHA256 stops the build: the file may
# have changed since the configure step checked it.
set(bytes "")
set(size 0)
if(INPUT)
  file(SHA256 "${INPUT}" actual)
  if(NOT actual STREQUAL SHA256)
    message(FATAL_ERROR "${INPUT} has SHA-256 ${actual}, expected ${SHA256}: not embedding it")
  endif()
  file(READ "${INPUT}" hex HEX)
  string(LENGTH "${hex}" hex_len)
  math(EXPR size "${hex_len} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
endif()
if(size EQUAL 0)
  set(bytes "0")
endif()
file(WRITE "${OUTPUT}.tmp"
  "#include <cstddef>\n"
  "extern const unsigned char kEmbeddedLoaderImage[];\n"
  "extern const std::size_t kEmbeddedLoaderSize;\n"
  "const unsigned char kEmbeddedLoaderImage[] = {${bytes}};\n"
  "const std::size_t kEmbeddedLoaderSize = ${size};\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.tmp" "${OUTPUT}")
