#include "view/server/view_server.h"

#include "view/view_access.h"
#include "view/view_commands.h"
#include "view/web/view_page.h"

#include <httplib.h>

#include <atomic>
#include <thread>

using nlohmann::json;

namespace {

constexpr int64_t kKeepAliveCommentMs = 15000;

void Refuse(httplib::Response& res, int status, const std::string& reason)
{
    res.status = status;
    res.set_content(reason + "\n", "text/plain; charset=utf-8");
}

void SendJson(httplib::Response& res, const json& body, int status = 200)
{
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace),
                    "application/json; charset=utf-8");
}

std::string HeaderOf(const httplib::Request& req, const char* name, bool& present)
{
    present = req.has_header(name);
    return present ? req.get_header_value(name) : std::string();
}

} // namespace

class CViewServer::Impl
{
public:
    Impl(CViewState& state, CViewServerOptions options, CViewCommandSink sink)
        : m_state(state), m_options(std::move(options)), m_sink(std::move(sink))
    {}

    ~Impl() { Stop(); }

    bool Start(std::string& error);
    void Stop();

    CViewState& m_state;
    CViewServerOptions m_options;
    CViewCommandSink m_sink;
    httplib::Server m_server;
    std::vector<std::string> m_hosts;
    std::thread m_thread;
    uint16_t m_port = 0;
    std::atomic<bool> m_stopped{false};

private:
    bool ParseBody(const httplib::Request& req, httplib::Response& res, json& body);
    bool Writable(httplib::Response& res);
    void SendLine(const std::string& line, httplib::Response& res);
    void Routes();
};

bool CViewServer::Impl::ParseBody(const httplib::Request& req, httplib::Response& res, json& body)
{
    if (req.body.size() > m_options.maxSmallBodyOctets) {
        Refuse(res, 413,
               "the body is larger than " + std::to_string(m_options.maxSmallBodyOctets) +
                   " octets");
        return false;
    }
    body = json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        Refuse(res, 400, "malformed JSON: the body must be one JSON object");
        return false;
    }
    return true;
}

bool CViewServer::Impl::Writable(httplib::Response& res)
{
    if (m_sink)
        return true;
    Refuse(res, 403, "refused: this view is read-only (a capture)");
    return false;
}

void CViewServer::Impl::SendLine(const std::string& line, httplib::Response& res)
{
    const CViewLineCheck check = CheckViewLine(line, m_options.strict);
    if (check.refused) {
        m_state.Log("warning", "refused " + line + ": " + check.warning);
        Refuse(res, 400, "refused " + line + ": " + check.warning);
        return;
    }
    if (!check.warning.empty())
        m_state.Log("warning", line + ": " + check.warning);
    m_sink(line);
    SendJson(res, {{"line", line}, {"warning", check.warning}});
}

void CViewServer::Impl::Routes()
{
    m_server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        CViewRequestFacts facts;
        facts.method = req.method;
        facts.path = req.path;
        facts.host = HeaderOf(req, "Host", facts.hasHost);
        facts.origin = HeaderOf(req, "Origin", facts.hasOrigin);
        bool present = false;
        facts.fetchSite = HeaderOf(req, "Sec-Fetch-Site", present);
        facts.token = req.has_param("token") ? req.get_param_value("token")
                                             : HeaderOf(req, "X-Korvane-Token", present);
        const CViewVerdict verdict = CheckViewRequest(m_hosts, m_options.token, facts);
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("Referrer-Policy", "no-referrer");
        if (verdict.status == 0)
            return httplib::Server::HandlerResponse::Unhandled;
        Refuse(res, verdict.status, verdict.reason);
        return httplib::Server::HandlerResponse::Handled;
    });
    // Reasons for the statuses the library sets itself (413, 400, ...).
    m_server.set_error_handler(httplib::Server::HandlerWithResponse(
        [this](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        std::string reason = "bad request";
        if (res.status == 413)
            reason =
                "the body is larger than " + std::to_string(m_options.maxBodyOctets) + " octets";
        else if (res.status == 404)
            reason = "not found: " + req.path;
        Refuse(res, res.status, reason);
        return httplib::Server::HandlerResponse::Handled;
    }));

    m_server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Security-Policy",
                       "default-src 'none'; script-src 'unsafe-inline'; style-src "
                       "'unsafe-inline'; connect-src 'self'; img-src 'self' data:; base-uri "
                       "'none'; form-action 'none'; frame-ancestors 'none'");
        res.set_content(reinterpret_cast<const char*>(kViewPage), kViewPageSize,
                        "text/html; charset=utf-8");
    });
    m_server.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
        SendJson(res, m_state.StateJson());
    });
    m_server.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) {
        const uint64_t page = m_state.OpenPage();
        if (page == 0) {
            Refuse(res, 503,
                   "too many pages open (at most " + std::to_string(m_state.Options().maxPages) +
                       ")");
            return;
        }
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, page, first = true](size_t, httplib::DataSink& sink) mutable {
            std::string text;
            if (first)
                text = "retry: 1000\n\n";
            first = false;
            const CViewBatch batch = m_state.WaitPage(page, kKeepAliveCommentMs);
            if (m_state.IsShutDown())
                return false;
            if (batch.events.empty())
                text += ": still here\n\n";
            for (const auto& [name, data] : batch.events)
                text += "event: " + name +
                        "\ndata: " + data.dump(-1, ' ', false, json::error_handler_t::replace) +
                        "\n\n";
            return sink.write(text.data(), text.size());
            },
            [this, page](bool) { m_state.ClosePage(page); });
    });
    m_server.Get("/api/export.json", [this](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Disposition", "attachment; filename=\"korvane-values.json\"");
        SendJson(res, m_state.ExportJson());
    });
    m_server.Get("/api/export.csv", [this](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Disposition", "attachment; filename=\"korvane-values.csv\"");
        res.set_content(m_state.ExportCsv(), "text/csv; charset=utf-8");
    });
    m_server.Get("/api/labels", [this](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Disposition", "attachment; filename=\"korvane-labels.json\"");
        SendJson(res, m_state.LabelsJson());
    });
    m_server.Post("/api/labels", [this](const httplib::Request& req, httplib::Response& res) {
        const json body = json::parse(req.body, nullptr, false);
        if (body.is_discarded()) {
            Refuse(res, 400, "malformed JSON: a labels document is {\"labels\": {PATH: LABEL}}");
            return;
        }
        std::string error;
        const bool replace = req.has_param("replace") && req.get_param_value("replace") == "1";
        if (!m_state.ImportLabels(body, replace, error)) {
            Refuse(res, 400, "labels not taken: " + error);
            return;
        }
        m_state.Log("labels", "labels imported");
        SendJson(res, {{"labels", m_state.LabelCount()}});
    });
    m_server.Post("/api/label", [this](const httplib::Request& req, httplib::Response& res) {
        json body;
        if (!ParseBody(req, res, body))
            return;
        if (!body.contains("path") || !body["path"].is_string() || !body.contains("label") ||
            !body["label"].is_string()) {
            Refuse(res, 400, "a label is {\"path\": TEXT, \"label\": TEXT}");
            return;
        }
        std::string error;
        if (!m_state.SetLabel(body["path"], body["label"], error)) {
            Refuse(res, 400, "label not taken: " + error);
            return;
        }
        SendJson(res, {{"path", body["path"]}, {"label", body["label"]}});
    });
    m_server.Post("/api/set", [this](const httplib::Request& req, httplib::Response& res) {
        json body;
        if (!ParseBody(req, res, body) || !Writable(res))
            return;
        if (!body.contains("path") || !body["path"].is_string() || !body.contains("value") ||
            !(body["value"].is_string() || body["value"].is_number_integer())) {
            Refuse(res, 400, "a set is {\"path\": TEXT, \"value\": NUMBER or TEXT}");
            return;
        }
        const bool text = body["value"].is_string();
        const std::string value =
            text ? body["value"].get<std::string>() : std::to_string(body["value"].get<int64_t>());
        std::string line;
        std::string error;
        if (!SetLineFor(body["path"], text, value, line, error)) {
            Refuse(res, 400, "not sent: " + error);
            return;
        }
        SendLine(line, res);
    });
    m_server.Post("/api/poll", [this](const httplib::Request& req, httplib::Response& res) {
        json body;
        if (!ParseBody(req, res, body) || !Writable(res))
            return;
        if (!body.contains("path") || !body["path"].is_string()) {
            Refuse(res, 400, "a poll is {\"path\": TEXT}");
            return;
        }
        std::string line;
        std::string error;
        if (!PollLineFor(body["path"], line, error)) {
            Refuse(res, 400, "not sent: " + error);
            return;
        }
        SendLine(line, res);
    });
    m_server.Post("/api/command", [this](const httplib::Request& req, httplib::Response& res) {
        json body;
        if (!ParseBody(req, res, body) || !Writable(res))
            return;
        if (!body.contains("line") || !body["line"].is_string() ||
            body["line"].get_ref<const std::string&>().empty()) {
            Refuse(res, 400, "a command is {\"line\": TEXT}");
            return;
        }
        const std::string line = body["line"];
        if (line.find_first_of("\r\n") != std::string::npos || line.size() > 1024) {
            Refuse(res, 400, "a command line is one line of at most 1024 octets");
            return;
        }
        SendLine(line, res);
    });
    const auto notFound = [](const httplib::Request& req, httplib::Response& res) {
        Refuse(res, 404, "not found: " + req.method + " " + req.path);
    };
    m_server.Get(".*", notFound);
    m_server.Post(".*", notFound);
    m_server.Put(".*", notFound);
    m_server.Delete(".*", notFound);
    m_server.Patch(".*", notFound);
    m_server.Options(".*", notFound);
}

bool CViewServer::Impl::Start(std::string& error)
{
    const size_t workers = m_state.Options().maxPages + 8;
    m_server.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
    m_server.set_payload_max_length(m_options.maxBodyOctets);
    m_server.set_keep_alive_timeout(2);
    m_server.set_read_timeout(5, 0);
    m_server.set_write_timeout(m_options.writeTimeoutMs / 1000,
                               (m_options.writeTimeoutMs % 1000) * 1000);
    Routes();
    int port = m_options.port;
    if (port == 0)
        port = m_server.bind_to_any_port(m_options.address);
    else if (!m_server.bind_to_port(m_options.address, port))
        port = -1;
    if (port <= 0) {
        error = "cannot listen on " + m_options.address + ":" + std::to_string(m_options.port) +
                " (in use, or not an address of this machine)";
        return false;
    }
    m_port = uint16_t(port);
    m_hosts = ViewHostNames(m_options.address, m_port);
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    return true;
}

void CViewServer::Impl::Stop()
{
    if (m_stopped.exchange(true))
        return;
    m_state.Shutdown();
    m_server.stop();
    if (m_thread.joinable())
        m_thread.join();
}

CViewServer::CViewServer(CViewState& state, CViewServerOptions options, CViewCommandSink sink)
    : m_impl(std::make_unique<Impl>(state, std::move(options), std::move(sink)))
{}

CViewServer::~CViewServer() = default;

bool CViewServer::Start(std::string& error)
{
    return m_impl->Start(error);
}

uint16_t CViewServer::Port() const
{
    return m_impl->m_port;
}

std::string CViewServer::Address() const
{
    const std::string& address = m_impl->m_options.address;
    const std::string host = address.find(':') != std::string::npos ? "[" + address + "]" : address;
    return "http://" + host + ":" + std::to_string(m_impl->m_port) +
           "/?token=" + m_impl->m_options.token;
}

void CViewServer::Stop()
{
    m_impl->Stop();
}
