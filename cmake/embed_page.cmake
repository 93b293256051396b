# Writes a C++ file that holds every file of the console page as bytes; in
# the .html files @HALVYN_VERSION@ becomes the version.
# Run as: cmake -DPAGE_DIR=... -DOUTPUT=... -DVERSION=... -P embed_page.cmake
file(GLOB files RELATIVE "${PAGE_DIR}" "${PAGE_DIR}/*")
list(SORT files)
set(arrays "")
set(entries "")
set(index 0)
foreach(name IN LISTS files)
  # package.json only tells node --test that the page's .js files are modules.
  if(IS_DIRECTORY "${PAGE_DIR}/${name}" OR name STREQUAL "package.json")
    continue()
  endif()
  if(name MATCHES "\\.html$")
    file(READ "${PAGE_DIR}/${name}" text)
    string(REPLACE "@HALVYN_VERSION@" "${VERSION}" text "${text}")
    string(HEX "${text}" hex)
  else()
    file(READ "${PAGE_DIR}/${name}" hex HEX)
  endif()
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  if(name MATCHES "\\.html$")
    set(type "text/html; charset=utf-8")
  elseif(name MATCHES "\\.js$")
    set(type "text/javascript; charset=utf-8")
  elseif(name MATCHES "\\.css$")
    set(type "text/css; charset=utf-8")
  elseif(name MATCHES "\\.svg$")
    set(type "image/svg+xml")
  elseif(name MATCHES "\\.png$")
    set(type "image/png")
  else()
    set(type "application/octet-stream")
  endif()
  string(APPEND arrays "const unsigned char kFile${index}[] = {${bytes} 0};\n")
  string(APPEND entries "    {\"${name}\", \"${type}\", std::string_view(reinterpret_cast<const char*>(kFile${index}), ${size})},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from console/web/page/: do not edit.
#include \"console/web/embedded_page.h\"

namespace halvyn {
namespace {
${arrays}
const ConsoleAsset kFiles[] = {
${entries}};
}  // namespace

std::span<const ConsoleAsset> EmbeddedPageFiles() { return kFiles; }

}  // namespace halvyn
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
