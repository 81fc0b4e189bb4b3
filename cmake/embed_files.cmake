# Writes OUTPUT, a C++ source holding each file under DIR (FILES, relative
# paths separated by "|") as bytes, for serve/web_files.h.
cmake_policy(VERSION 3.25)
string(REPLACE "|" ";" files "${FILES}")
set(arrays "")
set(table "")
set(index 0)
foreach(name IN LISTS files)
  file(READ ${DIR}/${name} hex HEX)
  file(SHA256 ${DIR}/${name} hash)
  string(SUBSTRING ${hash} 0 20 hash)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
  string(APPEND arrays "const unsigned char kFile${index}[] = {\n${bytes}0};\n")
  file(SIZE ${DIR}/${name} size)
  string(APPEND table "    {\"/${name}\", kFile${index}, ${size}, \"\\\"${hash}\\\"\"},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.new "// Made by cmake/embed_files.cmake from serve/web/: do not edit.
#include \"serve/web_files.h\"

namespace {
${arrays}}  // namespace

extern const EmbeddedFile kEmbeddedFiles[] = {
${table}};
extern const size_t kEmbeddedFileCount = ${index};
")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
