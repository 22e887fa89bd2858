// Stand-in translation unit for a library that has no sources yet.
namespace korvane::build_detail {
int empty_library_anchor = 0;
}
