# Writes a C++ source that holds a file's bytes as an array:
#   cmake -DINPUT=file -DOUTPUT=source.cpp -DSYMBOL=name -DNAMESPACE=ns -P EmbedFile.cmake
file(READ "${INPUT}" bytes HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
string(LENGTH "${bytes}" length)
file(SIZE "${INPUT}" size)
file(WRITE "${OUTPUT}"
     "#include <cstddef>\nnamespace ${NAMESPACE} {\n"
     "extern const unsigned char ${SYMBOL}[] = {${bytes}};\n"
     "extern const std::size_t ${SYMBOL}Size = ${size};\n}\n")
