# cmake -DINPUT=<.bin> -DOUTPUT=<.cc> -DSIZE=<bytes> -P embed_default_image.cmake
# Turns the committed image into a C++ array, so the program never reads a file at run time and the
# cross build needs no tool beyond CMake itself.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR bytes "${digits} / 2")
if(NOT bytes EQUAL SIZE)
  message(FATAL_ERROR "${INPUT} holds ${bytes} bytes, the image must be exactly ${SIZE}")
endif()
# Sixteen bytes a line, then each byte as 0xNN.
string(REPEAT "[0-9a-f]" 32 line)
string(REGEX REPLACE "(${line})" "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
file(WRITE "${OUTPUT}.tmp" "// Generated from src/image/default_image.bin by embed_default_image.cmake. Do not edit.
#include \"image/default_image.h\"

namespace kt {

const std::array<std::uint8_t, kImageSize> defaultImage = {{
${hex}}};

}  // namespace kt
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
