#include "view/view_state.h"

#include "partner/partner_event.h"
#include "partner/partner_link.h"

#include <algorithm>
#include <cstdio>

using nlohmann::json;

namespace {

// JSON text; a text that is not UTF-8 has its bad octets replaced.
std::string Dump(const json& value)
{
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

} // namespace

// One page's queue: the parameters changed since it was last sent (each
// once), the other entries in order, and when it was last sent.
struct CViewState::Page
{
    bool full = true;
    bool linkChanged = false;
    int64_t lastSentMs = 0;
    bool sentOnce = false;
    std::vector<uint8_t> marked; // by parameter index
    std::vector<uint32_t> changed;
    std::vector<json> entries;
};

CViewTime CViewTime::Now()
{
    using namespace std::chrono;
    CViewTime now;
    now.steadyMs = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    now.wallMs = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return now;
}

std::string CommandPathOf(const std::array<int32_t, 5>& reportPath)
{
    std::array<int32_t, 5> path = reportPath;
    if (path[3] == 0 && path[4] != 0) {
        path[3] = path[4];
        path[4] = 0;
    }
    size_t count = 5;
    while (count > 1 && path[count - 1] == 0)
        --count;
    std::string text;
    for (size_t i = 0; i < count; ++i)
        text += (i ? "," : "") + std::to_string(path[i]);
    return text;
}

bool IsViewPath(const std::string& path)
{
    size_t numbers = 0;
    size_t at = 0;
    uint64_t last = 0;
    while (at <= path.size()) {
        const size_t end = std::min(path.find(',', at), path.size());
        if (end == at || end - at > 10)
            return false;
        uint64_t value = 0;
        for (size_t i = at; i < end; ++i) {
            if (path[i] < '0' || path[i] > '9')
                return false;
            value = value * 10 + uint64_t(path[i] - '0');
        }
        if (value > 2147483647u || ++numbers > 5)
            return false;
        last = value;
        at = end + 1;
    }
    return last != 0;
}

CViewState::CViewState(CViewOptions options) : m_options(options) {}

CViewState::~CViewState() = default;

bool CViewState::ApplyReport(const std::string& line, CViewTime now)
{
    const CPartnerReport report = ParsePartnerReport(line.data(), line.size());
    std::unique_lock<std::mutex> lock(m_mutex);
    ++m_reports;
    const int64_t second = now.steadyMs / 1000;
    if (second != m_second) {
        m_lastSecond = second == m_second + 1 ? m_thisSecond : 0;
        m_thisSecond = 0;
        m_second = second;
    }
    ++m_thisSecond;
    if (report.kind == EPartnerReportKind::Unknown) {
        LogLocked("error", "a report in neither layout: " + line, now);
        ChangedLocked();
        return false;
    }
    const std::string path = CommandPathOf(report.path);
    auto found = m_byPath.find(path);
    if (found == m_byPath.end()) {
        if (m_parameters.size() >= m_options.maxParameters) {
            if (!m_limitLogged)
                LogLocked("error",
                          "more than " + std::to_string(m_options.maxParameters) +
                              " parameters: reports of further ones are dropped",
                          now);
            m_limitLogged = true;
            ChangedLocked();
            return false;
        }
        found = m_byPath.emplace(path, m_parameters.size()).first;
        m_parameters.emplace_back();
        m_parameters.back().path = path;
    }
    CViewParameter& parameter = m_parameters[found->second];
    const bool text = report.kind == EPartnerReportKind::Text;
    std::string shown = line;
    if (text && shown.size() >= 2 && shown.compare(shown.size() - 2, 2, " \n") == 0)
        shown.resize(shown.size() - 2);
    parameter.report = shown;
    const bool same = parameter.changes != 0 && parameter.text == text &&
                      (text ? parameter.value == report.text : parameter.integer == report.integer);
    if (!same) {
        parameter.text = text;
        parameter.integer = text ? 0 : report.integer;
        parameter.value = text ? report.text : std::to_string(report.integer);
        parameter.changedMs = now.wallMs;
        ++parameter.changes;
        if (!text) {
            parameter.history.push_back(report.integer);
            if (parameter.history.size() > kHistory)
                parameter.history.pop_front();
        }
    }
    MarkLocked(found->second);
    ChangedLocked();
    return true;
}

void CViewState::ChangedLocked()
{
    ++m_generation;
    m_changed.notify_all();
}

void CViewState::MarkLocked(size_t index)
{
    for (auto& [id, page] : m_pages) {
        if (page->full)
            continue;
        if (page->marked.size() <= index)
            page->marked.resize(std::max(index + 1, page->marked.size() * 2), 0);
        if (!page->marked[index]) {
            page->marked[index] = 1;
            page->changed.push_back(uint32_t(index));
        }
    }
}

void CViewState::PushPageEventLocked(const json& entry)
{
    for (auto& [id, page] : m_pages) {
        if (page->full)
            continue;
        if (page->entries.size() >= m_options.maxPageEvents) {
            // Too much behind: the whole state instead.
            page->full = true;
            page->entries.clear();
            page->changed.clear();
            page->marked.clear();
            continue;
        }
        page->entries.push_back(entry);
    }
}

void CViewState::LogLocked(const std::string& kind, const std::string& text, CViewTime now)
{
    m_events.push_back({m_nextEvent++, now.wallMs, kind, text});
    if (m_events.size() > m_options.maxEvents)
        m_events.pop_front();
    PushPageEventLocked({{"event", EventJson(m_events.back())}});
}

void CViewState::Log(const std::string& kind, const std::string& text, CViewTime now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    LogLocked(kind, text, now);
    ChangedLocked();
}

void CViewState::SetConsoleState(const std::string& state, const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_consoleState = state;
    m_consoleText = text;
    for (auto& [id, page] : m_pages)
        page->linkChanged = true;
    ChangedLocked();
}

void CViewState::SetServiceState(const std::string& state, const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_serviceState = state;
    m_serviceText = text;
    for (auto& [id, page] : m_pages)
        page->linkChanged = true;
    ChangedLocked();
}

void CViewState::MarkServiceReachable()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_serviceState == "reachable")
        return;
    m_serviceState = "reachable";
    m_serviceText.clear();
    for (auto& [id, page] : m_pages)
        page->linkChanged = true;
    ChangedLocked();
}

void CViewState::CountConsole(uint64_t messages, uint64_t octets)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages += messages;
    m_octets += octets;
    for (auto& [id, page] : m_pages)
        page->linkChanged = true;
    ChangedLocked();
}

void CViewState::ApplyConsoleEvent(const ConsoleLinkEvent& event, CViewTime now)
{
    const std::string retry =
        event.retryInMs > 0 ? "; again in " + std::to_string(event.retryInMs) + " ms" : "";
    switch (event.kind) {
    case ConsoleLinkEvent::Connected:
        SetConsoleState("connected", event.text);
        Log("link", "console connected: " + event.text, now);
        return;
    case ConsoleLinkEvent::Lost:
        SetConsoleState("lost", event.text);
        Log("link", "console lost: " + event.text + retry, now);
        return;
    case ConsoleLinkEvent::Failed:
        SetConsoleState("retrying", event.text);
        Log("link",
            "console attempt " + std::to_string(event.attempt) + " failed: " + event.text + retry,
            now);
        return;
    case ConsoleLinkEvent::GaveUp:
        SetConsoleState("gave up", event.text);
        Log("link", "gave up on the console: " + event.text, now);
        return;
    case ConsoleLinkEvent::Dropped:
        Log("error",
            std::to_string(event.count) + " octets of an unfinished message dropped at a break",
            now);
        return;
    case ConsoleLinkEvent::ConsoleData:
    case ConsoleLinkEvent::KeepAlive:
        return;
    }
}

void CViewState::ApplyLinkEvent(const CPartnerLinkEvent& event, CViewTime now)
{
    using Kind = CPartnerLinkEvent::Kind;
    const std::string retry =
        event.retryInMs > 0 ? "; again in " + std::to_string(event.retryInMs) + " ms" : "";
    switch (event.kind) {
    case Kind::Service:
        if (event.service.kind == CPartnerEvent::Report)
            ApplyReport(event.service.report.line, now);
        return;
    case Kind::ConsoleSent:
        MarkServiceReachable();
        CountConsole(1, event.count);
        return;
    case Kind::CommandSent:
        MarkServiceReachable();
        Log("command", "sent " + event.line, now);
        return;
    case Kind::KeepAliveSent:
        return;
    case Kind::NoValue:
        Log("warning", "the service found no value in " + event.line, now);
        return;
    case Kind::Console:
        ApplyConsoleEvent(event.console, now);
        return;
    case Kind::ServiceUnreachable:
        SetServiceState("unreachable", event.text);
        Log("service", "the service did not take a block: " + event.text + retry, now);
        return;
    case Kind::ServiceReachable:
        SetServiceState("reachable", "");
        Log("service", "the service takes blocks again", now);
        return;
    case Kind::ServiceTimeout:
        SetServiceState("timeout", event.text);
        Log("service", "the service did not answer in time: " + event.text, now);
        return;
    case Kind::ServiceGaveUp:
        SetServiceState("gave up", event.text);
        Log("service", "gave up on the service: " + event.text, now);
        return;
    case Kind::NotSent:
        Log("warning", "not sent: " + event.line + " (" + event.text + ")", now);
        return;
    }
}

bool CViewState::SetLabelLocked(const std::string& path, const std::string& label,
                                std::string& error)
{
    if (!IsViewPath(path)) {
        error = "not a path: '" + path + "' (one to five numbers separated by commas)";
        return false;
    }
    if (label.size() > kMaxLabelLength) {
        error = "the label of " + path + " is longer than " + std::to_string(kMaxLabelLength) +
                " octets";
        return false;
    }
    if (label.empty()) {
        m_labels.erase(path);
    } else {
        if (!m_labels.count(path) && m_labels.size() >= m_options.maxLabels) {
            error = "more than " + std::to_string(m_options.maxLabels) + " labels";
            return false;
        }
        m_labels[path] = label;
    }
    PushPageEventLocked({{"label", {{"path", path}, {"label", label}}}});
    return true;
}

void CViewState::LabelsChangedLocked(std::unique_lock<std::mutex>& lock)
{
    ChangedLocked();
    if (!m_labelsHandler)
        return;
    json labels = {{"labels", m_labels}};
    auto handler = m_labelsHandler;
    lock.unlock();
    handler(labels);
}

bool CViewState::SetLabel(const std::string& path, const std::string& label, std::string& error)
{
    // Only valid UTF-8 goes into JSON.
    try {
        (void)json(label).dump();
    } catch (const json::exception&) {
        error = "the label is not UTF-8";
        return false;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!SetLabelLocked(path, label, error))
        return false;
    LabelsChangedLocked(lock);
    return true;
}

bool CViewState::ImportLabels(const json& document, bool replace, std::string& error)
{
    const json* labels = &document;
    if (document.is_object() && document.contains("labels"))
        labels = &document["labels"];
    if (!labels->is_object()) {
        error = "labels must be an object of PATH: LABEL";
        return false;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    // Checked whole before anything changes.
    size_t count = replace ? 0 : m_labels.size();
    for (const auto& [path, label] : labels->items()) {
        if (!label.is_string()) {
            error = "the label of '" + path + "' is not a text";
            return false;
        }
        if (!IsViewPath(path)) {
            error = "not a path: '" + path + "' (one to five numbers separated by commas)";
            return false;
        }
        if (label.get_ref<const std::string&>().size() > kMaxLabelLength) {
            error = "the label of " + path + " is longer than " + std::to_string(kMaxLabelLength) +
                    " octets";
            return false;
        }
        if (replace || !m_labels.count(path))
            ++count;
    }
    if (count > m_options.maxLabels) {
        error = "more than " + std::to_string(m_options.maxLabels) + " labels";
        return false;
    }
    if (replace) {
        for (const auto& [path, label] : m_labels)
            if (!labels->contains(path))
                PushPageEventLocked({{"label", {{"path", path}, {"label", ""}}}});
        m_labels.clear();
    }
    for (const auto& [path, label] : labels->items())
        SetLabelLocked(path, label.get<std::string>(), error);
    LabelsChangedLocked(lock);
    return true;
}

json CViewState::LabelsJson() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return {{"labels", m_labels}};
}

size_t CViewState::LabelCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_labels.size();
}

void CViewState::OnLabelsChanged(std::function<void(const json&)> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_labelsHandler = std::move(handler);
}

json CViewState::ParameterJson(const CViewParameter& parameter) const
{
    json out = {{"path", parameter.path},
                {"report", parameter.report},
                {"type", parameter.text ? "text" : "integer"},
                {"changed", parameter.changedMs},
                {"changes", parameter.changes}};
    if (parameter.text)
        out["value"] = parameter.value;
    else
        out["value"] = parameter.integer;
    out["history"] = parameter.history;
    return out;
}

json CViewState::EventJson(const Event& event) const
{
    return {{"id", event.id}, {"time", event.wallMs}, {"kind", event.kind}, {"text", event.text}};
}

json CViewState::LinkJson() const
{
    return {{"console", {{"state", m_consoleState}, {"text", m_consoleText}}},
            {"service", {{"state", m_serviceState}, {"text", m_serviceText}}}};
}

json CViewState::CountersJson(int64_t steadyMs) const
{
    const int64_t second = steadyMs / 1000;
    const uint64_t rate =
        second == m_second ? m_lastSecond : (second == m_second + 1 ? m_thisSecond : 0);
    return {{"messages", m_messages},
            {"reports", m_reports},
            {"octets", m_octets},
            {"reportsPerSecond", rate},
            {"parameters", m_parameters.size()}};
}

std::shared_ptr<const std::string> CViewState::StateText(CViewTime now) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return StateTextLocked(now.steadyMs);
}

std::shared_ptr<const std::string> CViewState::StateTextLocked(int64_t steadyMs) const
{
    const int64_t second = steadyMs / 1000;
    if (m_stateText && m_stateGeneration == m_generation && m_stateSecond == second)
        return m_stateText;
    // The keys in the order a json object dumps them (sorted).
    std::string text = "{\"counters\":" + Dump(CountersJson(steadyMs)) + ",\"events\":[";
    for (size_t i = 0; i < m_events.size(); ++i)
        text += (i ? "," : "") + Dump(EventJson(m_events[i]));
    text += "],\"labels\":" + Dump(json(m_labels)) + ",\"link\":" + Dump(LinkJson()) +
            ",\"mode\":" + (m_options.readOnly ? "\"offline\"" : "\"live\"") + ",\"parameters\":[";
    for (size_t i = 0; i < m_parameters.size(); ++i)
        text += (i ? "," : "") + Dump(ParameterJson(m_parameters[i]));
    text += "],\"readOnly\":" + std::string(m_options.readOnly ? "true" : "false") + "}";
    m_stateText = std::make_shared<const std::string>(std::move(text));
    m_stateGeneration = m_generation;
    m_stateSecond = second;
    return m_stateText;
}

json CViewState::ExportJson() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    json parameters = json::array();
    for (const auto& [path, index] : m_byPath) {
        const CViewParameter& parameter = m_parameters[index];
        const auto label = m_labels.find(path);
        json entry = {{"path", path},
                      {"label", label == m_labels.end() ? "" : label->second},
                      {"type", parameter.text ? "text" : "integer"},
                      {"report", parameter.report},
                      {"changed", parameter.changedMs},
                      {"changes", parameter.changes}};
        if (parameter.text)
            entry["value"] = parameter.value;
        else
            entry["value"] = parameter.integer;
        parameters.push_back(std::move(entry));
    }
    return {{"parameters", std::move(parameters)}};
}

namespace {

// A CSV field: quoted when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

} // namespace

std::string CViewState::ExportCsv() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string out = "path,label,type,value,changed,changes\r\n";
    for (const auto& [path, index] : m_byPath) {
        const CViewParameter& parameter = m_parameters[index];
        const auto label = m_labels.find(path);
        out += CsvField(path) + "," + CsvField(label == m_labels.end() ? "" : label->second) + "," +
               (parameter.text ? "text" : "integer") + "," + CsvField(parameter.value) + "," +
               std::to_string(parameter.changedMs) + "," + std::to_string(parameter.changes) +
               "\r\n";
    }
    return out;
}

size_t CViewState::ParameterCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_parameters.size();
}

bool CViewState::Parameter(const std::string& path, CViewParameter& out) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_byPath.find(path);
    if (found == m_byPath.end())
        return false;
    out = m_parameters[found->second];
    return true;
}

uint64_t CViewState::OpenPage(CViewTime /*now*/)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_shutdown || m_pages.size() >= m_options.maxPages)
        return 0;
    const uint64_t id = m_nextPage++;
    m_pages[id] = std::make_unique<Page>();
    return id;
}

void CViewState::ClosePage(uint64_t page)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pages.erase(page);
    m_changed.notify_all(); // not a change of the state: its waits end
}

size_t CViewState::PageCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pages.size();
}

CViewBatch CViewState::TakePage(uint64_t id, CViewTime now)
{
    CViewBatch batch;
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto found = m_pages.find(id);
    if (found == m_pages.end())
        return batch;
    Page& page = *found->second;
    if (page.full) {
        page.full = false;
        page.linkChanged = false;
        page.sentOnce = true;
        page.lastSentMs = now.steadyMs;
        batch.events.push_back({"state", StateTextLocked(now.steadyMs)});
        return batch;
    }
    const bool waiting = !page.changed.empty() || !page.entries.empty() || page.linkChanged;
    if (!waiting)
        return batch;
    const int64_t due = page.lastSentMs + m_options.coalesceMs;
    if (page.sentOnce && now.steadyMs < due) {
        batch.waitMs = due - now.steadyMs;
        return batch;
    }
    json update = json::object();
    if (!page.changed.empty()) {
        json parameters = json::array();
        for (uint32_t index : page.changed) {
            parameters.push_back(ParameterJson(m_parameters[index]));
            page.marked[index] = 0;
        }
        page.changed.clear();
        update["parameters"] = std::move(parameters);
    }
    if (!page.entries.empty()) {
        json events = json::array();
        json labels = json::array();
        for (json& entry : page.entries) {
            if (entry.contains("event"))
                events.push_back(std::move(entry["event"]));
            else
                labels.push_back(std::move(entry["label"]));
        }
        page.entries.clear();
        if (!events.empty())
            update["events"] = std::move(events);
        if (!labels.empty())
            update["labels"] = std::move(labels);
    }
    update["link"] = LinkJson();
    update["counters"] = CountersJson(now.steadyMs);
    page.linkChanged = false;
    page.lastSentMs = now.steadyMs;
    page.sentOnce = true;
    batch.events.push_back({"update", std::make_shared<const std::string>(Dump(update))});
    return batch;
}

CViewBatch CViewState::WaitPage(uint64_t page, int64_t waitMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_shutdown || !m_pages.count(page))
                return {};
        }
        CViewBatch batch = TakePage(page);
        if (!batch.events.empty())
            return batch;
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_shutdown)
            return {};
        auto wake = until;
        if (batch.waitMs > 0)
            wake = std::min(wake, std::chrono::steady_clock::now() +
                                      std::chrono::milliseconds(batch.waitMs));
        if (std::chrono::steady_clock::now() >= until)
            return {};
        if (batch.waitMs > 0)
            m_changed.wait_until(lock, wake);
        else
            m_changed.wait_until(lock, wake, [&] {
                const auto found = m_pages.find(page);
                if (m_shutdown || found == m_pages.end())
                    return true;
                const Page& p = *found->second;
                return p.full || p.linkChanged || !p.changed.empty() || !p.entries.empty();
            });
    }
}

void CViewState::Shutdown()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_shutdown = true;
    m_changed.notify_all(); // not a change of the state: every wait ends
}

bool CViewState::IsShutDown() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_shutdown;
}
