# Writes a C++ source that holds a file's bytes, so the program carries the
# file inside itself instead of building or finding it at run time.
#   cmake -DINPUT=<file> -DOUTPUT=<source.cpp> -DSYMBOL=<name> -P embed_file.cmake
# Defines `extern const std::uint8_t ssr::<name>[]` and `ssr::<name>Size`.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
# Sixteen bytes a line.
string(REPEAT "[0-9a-f]" 32 line_pattern)
string(REGEX REPLACE "(${line_pattern})" "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.new"
  "// ${name}, as the build embeds it. Made by cmake/embed_file.cmake.\n"
  "#include <cstddef>\n#include <cstdint>\n\nnamespace ssr {\n\n"
  "extern const std::uint8_t ${SYMBOL}[];\nextern const std::size_t ${SYMBOL}Size;\n"
  "const std::uint8_t ${SYMBOL}[] = {\n${bytes}};\n"
  "const std::size_t ${SYMBOL}Size = ${size};\n\n}  // namespace ssr\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
