// The offline view: console octets decoded by the service's own code (the
// host and its report reader in this process, host/loopback.h) into a view
// state. Every report the reader makes is applied (also one the service
// would drop as a repeat of the last, so the counters show what the capture
// holds); every decoding error the reader catches is logged.
#pragma once

#include "view/view_state.h"

#include <cstdint>
#include <string>
#include <vector>

// False with the reason when the in-process host cannot be made.
bool DecodeCaptureInto(const std::vector<uint8_t>& octets, CViewState& state, std::string& error);
