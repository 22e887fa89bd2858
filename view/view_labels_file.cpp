#include "view/view_labels_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

bool LoadLabelsFile(const std::string& file, CViewState& state, std::string& error)
{
    std::error_code code;
    if (!std::filesystem::exists(file, code) && !code)
        return true;
    std::FILE* in = std::fopen(file.c_str(), "rb");
    if (!in) {
        error = "cannot read " + file + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0 &&
           text.size() <= kMaxLabelsFileOctets)
        text.append(buffer, got);
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    if (failed) {
        error = "cannot read " + file;
        return false;
    }
    if (text.size() > kMaxLabelsFileOctets) {
        error = file + ": larger than " + std::to_string(kMaxLabelsFileOctets >> 20) + " MiB";
        return false;
    }
    const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded()) {
        error = file + ": not JSON";
        return false;
    }
    if (!state.ImportLabels(document, true, error)) {
        error = file + ": " + error;
        return false;
    }
    return true;
}

bool SaveLabelsFile(const std::string& file, const nlohmann::json& labels, std::string& error)
{
    const std::string temporary = file + ".new";
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    if (!out) {
        error = "cannot write " + temporary + ": " + std::strerror(errno);
        return false;
    }
    const std::string text = labels.dump(2) + "\n";
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    const bool closed = std::fclose(out) == 0;
    if (!written || !closed) {
        error = "cannot write " + temporary;
        std::remove(temporary.c_str());
        return false;
    }
    std::error_code code;
    std::filesystem::rename(temporary, file, code);
    if (code) {
        error = "cannot replace " + file + ": " + code.message();
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}
