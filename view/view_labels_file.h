// The labels file (--labels FILE): {"labels": {"1,2,3,4,5": "Ch 1 fader", ...}},
// read on start and written whole after every change, atomically (a file
// beside it, then renamed over it), so that a reader never sees half of it.
#pragma once

#include "view/view_state.h"

#include <string>

// The largest labels file read.
constexpr size_t kMaxLabelsFileOctets = size_t(16) << 20;

// Reads FILE into the state's labels. A file that does not exist yet is no
// labels (true); one that cannot be read or is not a labels document is
// false with the reason, and the state is left as it was.
bool LoadLabelsFile(const std::string& file, CViewState& state, std::string& error);

// Writes the document to FILE atomically; false with the reason.
bool SaveLabelsFile(const std::string& file, const nlohmann::json& labels, std::string& error);
