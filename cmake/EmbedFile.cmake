# Writes a C++ source holding a file's bytes:
#   cmake -DINPUT=<file> -DOUTPUT=<source> -DSYMBOL=<name> -P EmbedFile.cmake
# The source defines nimbo::editor::<SYMBOL>[] and <SYMBOL>Size.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
  "// Generated at build time from ${name}.\n"
  "#include <cstddef>\n"
  "namespace nimbo::editor {\n"
  "extern const unsigned char ${SYMBOL}[];\n"
  "extern const std::size_t ${SYMBOL}Size;\n"
  "alignas(4) const unsigned char ${SYMBOL}[] = {\n${bytes}};\n"
  "const std::size_t ${SYMBOL}Size = ${size};\n"
  "}  // namespace nimbo::editor\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
