#include "tools/korvane/output/progress_meter.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>

namespace {

double SteadySeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void WriteStandardError(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

constexpr double kMiB = 1024.0 * 1024.0;

} // namespace

ProgressMeter::ProgressMeter(const char* command, uint64_t total, bool enabled)
    : ProgressMeter(command, total, enabled, WriteStandardError, SteadySeconds)
{}

ProgressMeter::ProgressMeter(const char* command, uint64_t total, bool enabled, Sink sink,
                             Clock clock, double interval)
    : m_command(command), m_total(total), m_enabled(enabled), m_sink(std::move(sink)),
      m_clock(std::move(clock)), m_interval(interval)
{
    if (m_enabled) {
        m_start = m_clock();
        m_lastShown = m_start;
    }
}

std::string ProgressMeter::Line(uint64_t done, uint64_t messages, uint64_t errors,
                                double seconds) const
{
    const double percent = m_total ? 100.0 * double(done) / double(m_total) : 100.0;
    const double rate = seconds > 0 ? double(done) / kMiB / seconds : 0.0;
    char line[192];
    std::snprintf(line, sizeof line,
                  "korvane %s: %.1f of %.1f MiB (%d%%), %" PRIu64 " message%s, %" PRIu64
                  " error%s, %.1f MiB/s",
                  m_command.c_str(), double(done) / kMiB, double(m_total) / kMiB, int(percent),
                  messages, messages == 1 ? "" : "s", errors, errors == 1 ? "" : "s", rate);
    return line;
}

void ProgressMeter::Show(const std::string& line, const char* end)
{
    // Back to the line's start, the line, erase what a longer one left.
    std::string text;
    text.reserve(line.size() + 8);
    text.append(1, '\r').append(line).append("\x1b[K").append(end);
    m_sink(text);
}

void ProgressMeter::Check(uint64_t done, uint64_t messages, uint64_t errors)
{
    m_nextCheck = done + kCheckOctets;
    const double now = m_clock();
    if (now - m_lastShown < m_interval)
        return;
    m_lastShown = now;
    m_shown = true;
    Show(Line(done, messages, errors, now - m_start), "");
}

void ProgressMeter::Finish(uint64_t done, uint64_t messages, uint64_t errors)
{
    if (!m_enabled || m_finished)
        return;
    m_finished = true;
    m_shown = true;
    Show(Line(done, messages, errors, m_clock() - m_start), "\n");
}
