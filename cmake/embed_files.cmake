# Writes a C++ header that holds files as string literals, so that a program carries them in its binary:
#   cmake -DOUTPUT=header -DNAMESPACE=ns -DFILES="a|b" -P embed_files.cmake
# The header defines kEmbeddedFiles, an array of {name, body} in the order given; a name is the file's
# name without its folder. Every byte is written as an escape: any file, text or not, comes through as it is.
foreach(required OUTPUT NAMESPACE FILES)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "embed_files.cmake: ${required} is not given")
  endif()
endforeach()
string(REPLACE "|" ";" files "${FILES}")

set(text "// Made by cmake/embed_files.cmake from the files it names: edit those, not this.\n")
string(APPEND text "#pragma once\n\n#include <string_view>\n\nnamespace ${NAMESPACE} {\n\n")
set(table "")
set(index 0)
foreach(file IN LISTS files)
  get_filename_component(name "${file}" NAME)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  # Forty bytes a line, each an escape of two digits, so that none runs into the character after it.
  set(escaped "")
  set(at 0)
  while(at LESS digits)
    string(SUBSTRING "${hex}" ${at} 80 chunk)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" chunk "${chunk}")
    string(APPEND escaped "\n    \"${chunk}\"")
    math(EXPR at "${at} + 80")
  endwhile()
  if(escaped STREQUAL "")
    set(escaped " \"\"")
  endif()
  string(APPEND text "// ${name}\ninline constexpr char kFile${index}[] =${escaped};\n\n")
  string(APPEND table "    {\"${name}\", std::string_view(kFile${index}, ${size})},\n")
  math(EXPR index "${index} + 1")
endforeach()

string(APPEND text "struct EmbeddedFile {\n    std::string_view name;\n    std::string_view body;\n};\n\n")
string(APPEND text "inline constexpr EmbeddedFile kEmbeddedFiles[] = {\n${table}};\n\n}  // namespace ${NAMESPACE}\n")

# Written only when it changed, so that a rebuild of the assets compiles only what includes them.
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "${text}" @ONLY)
