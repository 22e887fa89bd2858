// CViewState: what `korvane view` shows, kept apart from HTTP and the browser.
//
// It holds the console's parameters as the reports name them, the labels a
// person gave to paths, the link's state, an event log and counters, and one
// queue per open page. The front-end feeds it reports and link events; the
// server opens a page for every event stream and takes from it what to send.
//
// Parameters: keyed by their command path, the path a partner's command line
// names ("1,2,3,4,5"; a report "1,2,3,0,4,75" of a four-level parameter is
// the path "1,2,3,4", trailing zeros dropped). Each holds its value (integer,
// or text with blanks as blanks), the report it came in, the time of its last
// change, the number of changes and its last kHistory integer values. At most
// maxParameters exist; a report of a further one is counted, logged once and
// otherwise dropped.
//
// Labels: a text per path (a parameter or any level above it); at most
// maxLabels, each at most kMaxLabelLength octets of UTF-8.
//
// Pages: every change marks the parameter in every page's queue (once, however
// often it changes); TakePage hands a page its changes at most once every
// coalesceMs, so a page gets at most one update per parameter per coalesceMs.
// A new page first gets the whole state. A page's queue holds at most one
// entry per parameter and at most maxPageEvents other entries (log lines,
// labels); past that its queue is emptied and the page gets the whole state
// again. Memory is bounded by the limits above, however long it runs.
//
// Thread safety: every member may be called from any thread; one mutex
// guards the state. WaitPage blocks the caller only.
#pragma once

#include <nlohmann/json.hpp>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct CPartnerLinkEvent;
struct ConsoleLinkEvent;

struct CViewOptions
{
    size_t maxParameters = 100000;
    size_t maxLabels = 100000;
    size_t maxEvents = 500;
    size_t maxPageEvents = 1024;
    size_t maxPages = 16;
    int64_t coalesceMs = 100;
    // "live" (a console link) or "offline" (a capture: nothing can be set).
    bool readOnly = false;
};

struct CViewTime
{
    int64_t steadyMs = 0; // for coalescing
    int64_t wallMs = 0;   // shown: milliseconds since 1970 (UTC)
    static CViewTime Now();
};

constexpr size_t kHistory = 24;
constexpr size_t kMaxLabelLength = 200;

struct CViewParameter
{
    std::string path;   // command path, "1,2,3,4,5"
    std::string report; // the last report line as it came (a text report without " \n")
    bool text = false;
    int32_t integer = 0;
    std::string value; // text, with blanks as blanks
    int64_t changedMs = 0;
    uint64_t changes = 0;
    std::deque<int32_t> history;
};

// One event of a page's stream: its name and its data, JSON text. The whole
// state's text is shared by every page that is sent it at the same moment.
struct CViewEvent
{
    // "state" (the whole state: the page drops what it had) or "update".
    std::string name;
    std::shared_ptr<const std::string> data;
    nlohmann::json Json() const { return nlohmann::json::parse(*data); }
};

// What a page is sent.
struct CViewBatch
{
    std::vector<CViewEvent> events;
    // When nothing was taken: milliseconds until the page may be sent
    // again (0 with nothing waiting).
    int64_t waitMs = 0;
};

class CViewState
{
public:
    explicit CViewState(CViewOptions options = {});
    ~CViewState();
    CViewState(const CViewState&) = delete;
    CViewState& operator=(const CViewState&) = delete;

    const CViewOptions& Options() const { return m_options; }

    // A report line as the service forwarded it (a text report still ending
    // in " \n"). False when it is in neither report layout (logged) or the
    // parameter limit refused it.
    bool ApplyReport(const std::string& line, CViewTime now = CViewTime::Now());

    // Link events: the console's and the service's state, the log, counters.
    void ApplyLinkEvent(const CPartnerLinkEvent& event, CViewTime now = CViewTime::Now());
    void ApplyConsoleEvent(const ConsoleLinkEvent& event, CViewTime now = CViewTime::Now());
    // Adds `octets` console octets in `messages` messages to the counters.
    void CountConsole(uint64_t messages, uint64_t octets);

    // A line in the event log (kind: "link", "service", "command",
    // "warning", "error", "labels").
    void Log(const std::string& kind, const std::string& text, CViewTime now = CViewTime::Now());

    // Sets the state of the console or of the service as shown ("connected",
    // "lost", "retrying", "gave up", "reachable", ...).
    void SetConsoleState(const std::string& state, const std::string& text);
    void SetServiceState(const std::string& state, const std::string& text);

    // Labels. An empty label removes it. False with the reason for a bad
    // path, a label too long, or the label limit.
    bool SetLabel(const std::string& path, const std::string& label, std::string& error);
    // Takes labels from a JSON document ({"labels": {PATH: LABEL, ...}} or
    // the bare object); all or nothing. With replace, the old ones go.
    bool ImportLabels(const nlohmann::json& document, bool replace, std::string& error);
    // {"labels": {...}}, the labels file's format.
    nlohmann::json LabelsJson() const;
    size_t LabelCount() const;
    // Called with the labels document after every change (outside the lock
    // of no other call; it may write a file).
    void OnLabelsChanged(std::function<void(const nlohmann::json&)> handler);

    // The whole state as a page gets it first, as JSON text. The text is
    // built once for a state and shared until the state (or the second of
    // the reports-a-second counter) changes, so that many pages opened at
    // once cost one copy; it is built a parameter at a time, never as one
    // JSON tree.
    std::shared_ptr<const std::string> StateText(CViewTime now = CViewTime::Now()) const;
    nlohmann::json StateJson() const { return nlohmann::json::parse(*StateText()); }
    // The values with their labels, most useful first: by path.
    nlohmann::json ExportJson() const;
    std::string ExportCsv() const;

    size_t ParameterCount() const;
    // A copy of one parameter; false when there is none at the path.
    bool Parameter(const std::string& path, CViewParameter& out) const;

    // Pages. OpenPage gives 0 when maxPages are open.
    uint64_t OpenPage(CViewTime now = CViewTime::Now());
    void ClosePage(uint64_t page);
    size_t PageCount() const;
    // What the page is to be sent now (nothing inside the coalescing window).
    CViewBatch TakePage(uint64_t page, CViewTime now = CViewTime::Now());
    // TakePage, waiting up to waitMs for something to send; an empty batch
    // on time-out, when the page is gone, or once Shutdown() was called.
    CViewBatch WaitPage(uint64_t page, int64_t waitMs);
    // Wakes every WaitPage for good.
    void Shutdown();
    bool IsShutDown() const;

private:
    struct Page;
    struct Event
    {
        uint64_t id;
        int64_t wallMs;
        std::string kind;
        std::string text;
    };

    nlohmann::json ParameterJson(const CViewParameter& parameter) const;
    nlohmann::json EventJson(const Event& event) const;
    nlohmann::json LinkJson() const;
    nlohmann::json CountersJson(int64_t steadyMs) const;
    std::shared_ptr<const std::string> StateTextLocked(int64_t steadyMs) const;
    // Every change of what a page is shown: wakes the pages' waits.
    void ChangedLocked();
    // A block was taken: the service is there.
    void MarkServiceReachable();
    void LogLocked(const std::string& kind, const std::string& text, CViewTime now);
    void MarkLocked(size_t index);
    void PushPageEventLocked(const nlohmann::json& entry);
    void LabelsChangedLocked(std::unique_lock<std::mutex>& lock);
    bool SetLabelLocked(const std::string& path, const std::string& label, std::string& error);

    CViewOptions m_options;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_shutdown = false;
    uint64_t m_generation = 0; // counts ChangedLocked()
    mutable std::shared_ptr<const std::string> m_stateText;
    mutable uint64_t m_stateGeneration = 0;
    mutable int64_t m_stateSecond = 0;

    std::vector<CViewParameter> m_parameters;
    std::map<std::string, size_t> m_byPath;
    bool m_limitLogged = false;
    std::map<std::string, std::string> m_labels;
    std::function<void(const nlohmann::json&)> m_labelsHandler;

    std::deque<Event> m_events;
    uint64_t m_nextEvent = 1;

    std::string m_consoleState = "connecting";
    std::string m_consoleText;
    std::string m_serviceState = "unknown";
    std::string m_serviceText;

    uint64_t m_messages = 0;
    uint64_t m_reports = 0;
    uint64_t m_octets = 0;
    // Reports in the current and the previous second (steady clock).
    int64_t m_second = 0;
    uint64_t m_thisSecond = 0;
    uint64_t m_lastSecond = 0;

    std::map<uint64_t, std::unique_ptr<Page>> m_pages;
    uint64_t m_nextPage = 1;
};

// The command path of a report's five numbers: a four-level parameter's
// report (zero in the fourth place, its number in the fifth) names it by the
// command's path; trailing zeros dropped. "1,2,3,0,4" -> "1,2,3,4".
std::string CommandPathOf(const std::array<int32_t, 5>& reportPath);

// True for a path of one to five decimal numbers separated by commas, each
// in 0..2147483647, the last non-zero.
bool IsViewPath(const std::string& path);
