#include "console/state_file.h"

#include "console/state_storage.h"

#include <nlohmann/json.hpp>

#include <limits>

using nlohmann::json;

namespace {

bool FitsInt32(const json& number)
{
    if (number.is_number_unsigned())
        return number.get<uint64_t>() <= uint64_t(std::numeric_limits<int32_t>::max());
    const int64_t value = number.get<int64_t>();
    return value >= std::numeric_limits<int32_t>::min() &&
           value <= std::numeric_limits<int32_t>::max();
}

} // namespace

bool ParseState(const std::string& text, CParameterStore& store, std::string& error)
{
    const json document = json::parse(text, nullptr, false);
    if (document.is_discarded()) {
        error = "not valid JSON";
        return false;
    }
    if (!document.is_object() || !document.contains("parameters") ||
        !document["parameters"].is_array()) {
        error = "expected an object with a \"parameters\" array";
        return false;
    }
    CParameterStore loaded;
    size_t index = 0;
    for (const json& entry : document["parameters"]) {
        const std::string where = "parameter " + std::to_string(index++) + ": ";
        if (!entry.is_object() || !entry.contains("path") || !entry.contains("value")) {
            error = where + "expected an object with \"path\" and \"value\"";
            return false;
        }
        const json& path = entry["path"];
        if (!path.is_array() || path.empty() || path.size() > kMaxParameterKeyLength) {
            error = where + "\"path\" must be an array of 1 to " +
                    std::to_string(kMaxParameterKeyLength) + " numbers";
            return false;
        }
        ParameterKey key;
        for (const json& number : path) {
            if (!number.is_number_unsigned() ||
                number.get<uint64_t>() > std::numeric_limits<uint32_t>::max()) {
                error = where + "path numbers must be integers from 0 to 4294967295";
                return false;
            }
            key.push_back(uint32_t(number.get<uint64_t>()));
        }
        const json& value = entry["value"];
        if (value.is_string()) {
            loaded.Set(key, value.get<std::string>());
        } else if (value.is_number_integer() && FitsInt32(value)) {
            loaded.Set(key, int32_t(value.get<int64_t>()));
        } else {
            error = where + "\"value\" must be a text or an integer from -2147483648 to 2147483647";
            return false;
        }
    }
    store = std::move(loaded);
    return true;
}

std::string FormatState(const CParameterStore& store)
{
    json parameters = json::array();
    for (const auto& [key, value] : store.All()) {
        json entry;
        entry["path"] = key;
        if (const int32_t* number = std::get_if<int32_t>(&value))
            entry["value"] = *number;
        else
            entry["value"] = std::get<std::string>(value);
        parameters.push_back(std::move(entry));
    }
    json document;
    document["parameters"] = std::move(parameters);
    // Invalid UTF-8 in a text is written as U+FFFD rather than refused.
    return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

bool LoadStateFile(const std::string& path, CParameterStore& store, std::string& error)
{
    std::string text;
    if (!ReadRegularFile(path, kMaxStateFileOctets, text, error))
        return false;
    if (!ParseState(text, store, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool SaveStateFile(const std::string& path, const CParameterStore& store, std::string& error)
{
    return WriteFileAtomically(path, FormatState(store), error);
}
