// The progress line of decode, dump and reencode on a large input.
//
// Shown only for inputs above kThreshold octets and only when standard
// error is a terminal (Wanted); then at most every `interval` seconds one
// line, rewritten in place ("\r" ... erase to the line's end):
//   korvane decode: 48.0 of 96.0 MiB (50%), 1204 messages, 0 errors, 210.5 MiB/s
// Finish writes the last state and ends the line. A disabled meter writes
// nothing at all. Update is cheap between checks (no clock read before
// another kCheckOctets octets).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class ProgressMeter
{
public:
    static constexpr uint64_t kThreshold = uint64_t(64) << 20;
    static constexpr uint64_t kCheckOctets = uint64_t(1) << 20;

    using Sink = std::function<void(const std::string& text)>;
    // Seconds from any fixed point.
    using Clock = std::function<double()>;

    // True when an input of `total` octets gets a meter on a terminal.
    static bool Wanted(uint64_t total, bool terminal) { return terminal && total > kThreshold; }

    // The meter for `command` over `total` octets, writing to standard error
    // with the steady clock when enabled.
    ProgressMeter(const char* command, uint64_t total, bool enabled);
    // The same with its own sink and clock (for tests).
    ProgressMeter(const char* command, uint64_t total, bool enabled, Sink sink, Clock clock,
                  double interval = 0.25);

    // `done` octets of the total read so far, with the counts so far.
    void Update(uint64_t done, uint64_t messages, uint64_t errors)
    {
        if (m_enabled && done >= m_nextCheck)
            Check(done, messages, errors);
    }
    // The final state; ends the line. Only the first call writes.
    void Finish(uint64_t done, uint64_t messages, uint64_t errors);

    // The line's text for a state (without "\r" and the erase sequence).
    std::string Line(uint64_t done, uint64_t messages, uint64_t errors, double seconds) const;

private:
    void Check(uint64_t done, uint64_t messages, uint64_t errors);
    void Show(const std::string& line, const char* end);

    std::string m_command;
    uint64_t m_total;
    bool m_enabled;
    Sink m_sink;
    Clock m_clock;
    double m_interval;
    double m_start = 0;
    double m_lastShown = 0;
    bool m_shown = false;
    bool m_finished = false;
    uint64_t m_nextCheck = kCheckOctets;
};

// True when standard error is a terminal.
bool StandardErrorIsTerminal();
