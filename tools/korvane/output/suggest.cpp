#include "tools/korvane/output/suggest.h"

#include <algorithm>

size_t EditDistance(const std::string& a, const std::string& b)
{
    // Three rows of the table: two back, one back, this one.
    std::vector<size_t> before(b.size() + 1);
    std::vector<size_t> previous(b.size() + 1);
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        previous[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            row[j] = std::min({previous[j] + 1, row[j - 1] + 1, previous[j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                row[j] = std::min(row[j], before[j - 2] + 1);
        }
        before.swap(previous);
        previous.swap(row);
    }
    return previous[b.size()];
}

std::string Suggest(const std::string& word, const std::vector<std::string>& candidates)
{
    std::string best;
    size_t bestDistance = 3;
    for (const std::string& candidate : candidates) {
        const size_t distance = EditDistance(word, candidate);
        if (distance < bestDistance && distance * 2 < word.size()) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}
