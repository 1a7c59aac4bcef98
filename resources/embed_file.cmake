# Writes a C++ source holding a file's bytes as an array (run with cmake -P).
# -DINPUT=file -DOUTPUT=source.cpp -DSYMBOL=name -DHEADER=include/path.h
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes to a line.
string(REPEAT "0x[0-9a-f][0-9a-f]," 16 row)
string(REGEX REPLACE "(${row})" "\\1\n" bytes "${bytes}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
    "// Generated from ${name} at build time; edit the picture, not this file.\n"
    "#include \"${HEADER}\"\n\n"
    "const unsigned char ${SYMBOL}[] = {\n${bytes}\n};\n"
    "const unsigned int ${SYMBOL}_size = ${size};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
