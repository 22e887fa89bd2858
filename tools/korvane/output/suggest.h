// "Did you mean": the closest of a set of names to a mistyped one.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The number of single-character insertions, deletions, substitutions and
// swaps of two neighbours that turn a into b.
size_t EditDistance(const std::string& a, const std::string& b);

// The candidate nearest to word, when it is near enough to be what was
// meant (at most two edits, and fewer than half of word's characters);
// empty when none is. Of equally near candidates the first wins.
std::string Suggest(const std::string& word, const std::vector<std::string>& candidates);
