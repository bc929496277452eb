# Turns one file into a C++ source that defines a byte array, so the program reads no file at run
# time. Run as: cmake -DINPUT=... -DOUTPUT=... -DSYMBOL=... -P embed.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT}; do not edit.\n"
  "#include <cstddef>\n#include <cstdint>\n"
  "extern const std::uint8_t ${SYMBOL}[${size}] = {\n${bytes}\n};\n"
  "extern const std::size_t ${SYMBOL}_size = ${size};\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
