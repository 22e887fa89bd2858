// How long a send waits for its receiver unless told otherwise: the message
// layer's default on every platform, and the default of every option above
// it that sets a send timeout (the partner session, the C interface, the
// tool's --timeout).
#pragma once

constexpr int kDefaultSendTimeoutMs = 5000;
