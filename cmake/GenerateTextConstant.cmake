# Writes a C++ source defining the wide text constant NAME from the file INPUT, with its lines
# joined into one (leading indentation dropped), as declared in HEADER.
file(READ "${INPUT}" text)
string(REGEX REPLACE "\r?\n[ \t]*" " " text "${text}")
string(STRIP "${text}" text)
file(WRITE "${OUTPUT}.tmp"
  "#include \"${HEADER}\"\n"
  "const wchar_t ${NAME}[] = LR\"tarn_text(${text})tarn_text\";\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.tmp" "${OUTPUT}")
