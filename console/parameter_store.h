// The simulated console's parameters: every value it holds, keyed by the
// numbers of the containers that lead to it.
//
// A key lists the path container numbers from the top down and ends with the
// parameter container's number: the partner's 1,2,3,4,5 is {1,2,3,4,5}, its
// three-level 1,2,3,0,0 is {1,2,3} and its four-level 1,2,3,4,0 is {1,2,3,4}.
// A value is a 32-bit Integer or a UTF8 text. Keys are kept in ascending
// order, so everything below a path is one contiguous, ordered run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

using ParameterKey = std::vector<uint32_t>;
using ParameterValue = std::variant<int32_t, std::string>;
using ParameterEntry = std::pair<ParameterKey, ParameterValue>;

// Keys longer than this are refused: no console tree nests that deep.
constexpr size_t kMaxParameterKeyLength = 16;

// "1/2/3/4/5".
std::string KeyText(const ParameterKey& key);
// "100" or "\"Main out\"" (the text quoted, control octets as \xNN).
std::string ValueText(const ParameterValue& value);

class CParameterStore
{
public:
    // Stores value under key; true when that changed the store (a new key, or
    // another value or type).
    bool Set(const ParameterKey& key, const ParameterValue& value);

    // The value under key, or nullptr.
    const ParameterValue* Find(const ParameterKey& key) const;

    // Every parameter whose key begins with path and is longer than it, in
    // key order (nothing for an empty path).
    std::vector<ParameterEntry> Below(const ParameterKey& path) const;

    const std::map<ParameterKey, ParameterValue>& All() const { return m_values; }
    size_t Size() const { return m_values.size(); }
    void Clear() { m_values.clear(); }

private:
    std::map<ParameterKey, ParameterValue> m_values;
};
