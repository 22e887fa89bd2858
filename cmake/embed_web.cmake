# Writes the view's page as a C++ source: index.html with view.css and view.js
# put in place of their <link> and <script src> elements, as an array of
# octets (kViewPage, kViewPageSize; see view/web/view_page.h).
#
# cmake -DWEB=<view/web> -DOUTPUT=<file.cpp> -P embed_web.cmake

foreach(var WEB OUTPUT)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "embed_web.cmake needs -D${var}=...")
    endif()
endforeach()

file(READ "${WEB}/index.html" page)
file(READ "${WEB}/view.css" css)
file(READ "${WEB}/view.js" js)
set(link "<link rel=\"stylesheet\" href=\"view.css\">")
set(script "<script src=\"view.js\"></script>")
string(FIND "${page}" "${link}" at_link)
string(FIND "${page}" "${script}" at_script)
if(at_link EQUAL -1 OR at_script EQUAL -1)
    message(FATAL_ERROR "${WEB}/index.html must hold ${link} and ${script}")
endif()
string(REPLACE "${link}" "<style>\n${css}</style>" page "${page}")
string(REPLACE "${script}" "<script>\n${js}</script>" page "${page}")

set(joined "${OUTPUT}.html")
file(WRITE "${joined}" "${page}")
file(READ "${joined}" hex HEX)
file(SIZE "${joined}" size)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," octets "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n" octets "${octets}")
file(WRITE "${OUTPUT}.new"
    "// Made by cmake/embed_web.cmake from view/web/; do not edit.\n"
    "#include \"view/web/view_page.h\"\n\n"
    "const unsigned char kViewPage[] = {\n${octets}\n};\n"
    "const size_t kViewPageSize = ${size};\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
