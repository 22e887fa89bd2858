// The page of `korvane view`: view/web/index.html with view.css and view.js
// put in its place, compiled into the binary at build time
// (cmake/embed_web.cmake), so that nothing is fetched at run time.
#pragma once

#include <cstddef>

extern const unsigned char kViewPage[];
extern const size_t kViewPageSize;
