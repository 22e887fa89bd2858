// Round trips per second through the whole loop: a command line goes from
// the partner to the real service (`korvane serve`, its own process), the
// encoded block over the partner's TCP link to the console simulator, the
// console's answer back over the link, into the service as console data,
// and its report back to the partner. One round trip is one command sent
// and its report received. The console runs on a thread of this process
// (the same server `korvane console` runs); the partner's link on its own.
//
//   build/release/console_loop_posix_bench
#include "console/net/console_server.h"
#include "partner/console_link.h"

#include "protocol/protocol.h"
#include "winapi.h"

#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Everything the loop needs, set up once for the whole program.
class Loop
{
public:
    Loop()
    {
        char pattern[] = "/tmp/kvbench-XXXXXX";
        if (const char* made = mkdtemp(pattern))
            m_folder = made;
        setenv("KORVANE_RUNTIME_DIR", m_folder.c_str(), 1);
        m_service = fork();
        if (m_service == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            dup2(null, 2);
            execl(KORVANE_CLI_PATH, KORVANE_CLI_PATH, "serve", "bench",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        g_loop = this;
        m_self = CreateMessageWindow(kPartnerWindowName, Procedure);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (!(m_serviceWindow =
                     FindWindowA(nullptr, (std::string(kHostWindowPrefix) + "bench").c_str())) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));

        ConsoleServerOptions options;
        options.port = 0;
        m_server = std::make_unique<CConsoleServer>(m_io, m_simulator, options);
        std::string error;
        m_server->Listen(error);
        m_consoleThread = std::thread([this] { m_io.run(); });

        ConsoleLinkOptions link;
        link.port = m_server->LocalPort();
        m_link = std::make_unique<CConsoleLink>(link);
        m_link->Start([this](const ConsoleLinkEvent& event) {
            if (event.kind != ConsoleLinkEvent::ConsoleData &&
                event.kind != ConsoleLinkEvent::KeepAlive)
                return;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_fromConsole.push_back(event.octets);
            }
            WakeMessageLoop();
        });
    }

    ~Loop()
    {
        m_link->Stop();
        asio::post(m_io, [this] { m_server->Stop(); });
        m_consoleThread.join();
        DestroyWindow(m_self);
        if (m_service > 0) {
            kill(m_service, SIGTERM);
            waitpid(m_service, nullptr, 0);
        }
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

    bool Ready() const { return m_self && m_serviceWindow && m_server->LocalPort() != 0; }

    // One command, then console data until its report has come back; false
    // when it did not within the time limit.
    bool RoundTrip(const std::string& line)
    {
        const uint64_t before = m_reports;
        Send(MakeDwData(BLOCK_COMMAND, 0), line.c_str(), line.size() + 1);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (m_reports == before) {
            std::deque<std::vector<uint8_t>> blocks;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                blocks.swap(m_fromConsole);
            }
            for (const auto& block : blocks)
                Send(MakeDwData(BLOCK_CONSOLE_DATA, uint32_t(block.size())), block.data(),
                     block.size());
            if (m_reports != before)
                break;
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            RunMessageLoop(100);
        }
        return true;
    }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message != WM_COPYDATA || !lParam)
            return DefWindowProcA(window, message, wParam, lParam);
        const auto& block = *reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        const auto* octets = static_cast<const uint8_t*>(block.lpData);
        if (BlockKind(block.dwData) == BLOCK_ENCODED)
            g_loop->m_link->Send(std::vector<uint8_t>(octets, octets + block.cbData));
        else if (BlockKind(block.dwData) == BLOCK_REPORT)
            ++g_loop->m_reports;
        return 1;
    }

    void Send(uintptr_t dwData, const void* data, size_t size)
    {
        COPYDATASTRUCT block = {};
        block.dwData = dwData;
        block.cbData = DWORD(size);
        block.lpData = const_cast<void*>(data);
        SendMessageA(m_serviceWindow, WM_COPYDATA, reinterpret_cast<WPARAM>(m_self),
                     reinterpret_cast<LPARAM>(&block));
    }

    static Loop* g_loop;

    std::string m_folder;
    pid_t m_service = -1;
    HWND m_self = nullptr;
    HWND m_serviceWindow = nullptr;
    asio::io_context m_io;
    CParameterStore m_store;
    CConsoleSimulator m_simulator{m_store, 7};
    std::unique_ptr<CConsoleServer> m_server;
    std::thread m_consoleThread;
    std::unique_ptr<CConsoleLink> m_link;
    std::mutex m_mutex;
    std::deque<std::vector<uint8_t>> m_fromConsole;
    uint64_t m_reports = 0;
};

Loop* Loop::g_loop = nullptr;

Loop& TheLoop()
{
    static Loop loop;
    return loop;
}

// A new value every time, over all runs, so the service never drops a
// report as a repeat of the last one.
uint64_t g_value = 0;

void BM_LoopRoundTrip(benchmark::State& state, const char* prefix)
{
    Loop& loop = TheLoop();
    if (!loop.Ready()) {
        state.SkipWithError("the service or the console did not start");
        return;
    }
    uint64_t count = 0;
    for (auto _ : state) {
        const std::string line = prefix + std::to_string(++g_value % 1000000);
        if (!loop.RoundTrip(line)) {
            state.SkipWithError("a report did not come back");
            return;
        }
        ++count;
    }
    state.counters["round_trips_per_s"] =
        benchmark::Counter(double(count), benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(BM_LoopRoundTrip, five_level_integer, "1,2,3,4,5,")->UseRealTime();
BENCHMARK_CAPTURE(BM_LoopRoundTrip, four_level_text, "1,2,3,4,0,Aux~")->UseRealTime();

} // namespace
