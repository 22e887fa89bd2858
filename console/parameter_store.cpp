#include "console/parameter_store.h"

#include <algorithm>
#include <cstdio>

std::string KeyText(const ParameterKey& key)
{
    std::string text;
    for (size_t i = 0; i < key.size(); ++i) {
        if (i)
            text += '/';
        text += std::to_string(key[i]);
    }
    return text;
}

std::string ValueText(const ParameterValue& value)
{
    if (const int32_t* number = std::get_if<int32_t>(&value))
        return std::to_string(*number);
    std::string text = "\"";
    for (unsigned char c : std::get<std::string>(value)) {
        if (c < 0x20 || c == 0x7F || c == '"' || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned(c));
            text += escaped;
        } else {
            text += char(c);
        }
    }
    return text + "\"";
}

bool CParameterStore::Set(const ParameterKey& key, const ParameterValue& value)
{
    auto [position, inserted] = m_values.try_emplace(key, value);
    if (inserted)
        return true;
    if (position->second == value)
        return false;
    position->second = value;
    return true;
}

const ParameterValue* CParameterStore::Find(const ParameterKey& key) const
{
    const auto position = m_values.find(key);
    return position == m_values.end() ? nullptr : &position->second;
}

std::vector<ParameterEntry> CParameterStore::Below(const ParameterKey& path) const
{
    std::vector<ParameterEntry> found;
    if (path.empty())
        return found;
    // Keys that begin with path sort right after path itself.
    for (auto position = m_values.upper_bound(path); position != m_values.end(); ++position) {
        const ParameterKey& key = position->first;
        if (key.size() <= path.size() || !std::equal(path.begin(), path.end(), key.begin()))
            break;
        found.emplace_back(key, position->second);
    }
    return found;
}
