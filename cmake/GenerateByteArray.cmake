# Writes a C++ source defining kEmbeddedLoaderImage / kEmbeddedLoaderSize from the file INPUT
# (empty INPUT: an empty image).
set(bytes "")
set(size 0)
if(INPUT AND EXISTS "${INPUT}")
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
