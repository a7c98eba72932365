# Writes a C++ source that builds files into the program, so that it needs nothing beside its
# binary at run time. Run as a script at build time:
#   cmake -DOUTPUT=out.cpp -DFUNCTION=embeddedLayouts -DBASE_DIR=dir "-DFILES=a;b/c" -P EmbedFiles.cmake
# FILES are paths relative to BASE_DIR; each becomes an EmbeddedFile named by that path.
cmake_minimum_required(VERSION 3.25)
foreach(required OUTPUT FUNCTION BASE_DIR FILES)
    if(NOT DEFINED ${required})
        message(FATAL_ERROR "EmbedFiles.cmake needs -D${required}=...")
    endif()
endforeach()

# CMake's regular expressions have no counted repetition: spell out 24 bytes per output line.
string(REPEAT "0x[0-9a-f][0-9a-f]," 24 line_of_bytes)

set(arrays "")
set(entries "")
set(index 0)
foreach(relative IN LISTS FILES)
    set(path "${BASE_DIR}/${relative}")
    if(NOT EXISTS "${path}")
        message(FATAL_ERROR "EmbedFiles.cmake: ${path} does not exist")
    endif()
    file(READ "${path}" hex HEX)
    file(SIZE "${path}" size)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "${line_of_bytes}" "\\0\n    " bytes "${bytes}")
    # A trailing zero keeps empty files legal as arrays; it is not part of the file.
    string(APPEND arrays "const unsigned char file${index}[] = {\n    ${bytes}0x00};\n")
    string(REPLACE "\\" "\\\\" escaped "${relative}")
    string(REPLACE "\"" "\\\"" escaped "${escaped}")
    string(APPEND entries
        "    {\"${escaped}\", {reinterpret_cast<const char*>(file${index}), ${size}}},\n")
    math(EXPR index "${index} + 1")
endforeach()

set(content "// Written by cmake/EmbedFiles.cmake at build time; do not edit.
#include \"app/toolkit/EmbeddedFile.h\"

#include <array>

namespace vitrine {

namespace {

${arrays}
const std::array<EmbeddedFile, ${index}> files{{
${entries}}};

}  // namespace

std::span<const EmbeddedFile> ${FUNCTION}() {
    return files;
}

}  // namespace vitrine
")

file(WRITE "${OUTPUT}" "${content}")
