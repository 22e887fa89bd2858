// The dispatcher over any sequence of blocks of every kind, on our message
// layer: commands (with or without a NUL inside cbData), console data (with
// length fields above cbData, keep-alives, garbage), forged report messages,
// Debug toggles, and a partner that sends console data back from inside its
// handler of a report (re-entrant dispatch).

#include "host/host_state.h"
#include "host/host_window.h"
#include "host/report_reader.h"
#include "protocol/protocol.h"
#include "winapi.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct World
{
    CHostState state;
    CReportReader reader;
    HWND partner = nullptr;
    // Console octets the partner sends back while it handles a report.
    std::vector<uint8_t> echo;
    int nested = 0;
    // A partner that answered every report with more console data could
    // keep the conversation going for ever; this one stops after a few.
    int echoesLeft = 0;
};

World* g_world = nullptr;

LRESULT CALLBACK PartnerProc(HWND, UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_COPYDATA || !lParam)
        return 0;
    const auto* block = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    // Touch every octet the host claims to send.
    volatile uint8_t sink = 0;
    const auto* octets = static_cast<const uint8_t*>(block->lpData);
    for (DWORD i = 0; i < block->cbData; ++i)
        sink = uint8_t(sink ^ octets[i]);
    if (BlockKind(block->dwData) == BLOCK_REPORT && !g_world->echo.empty() && g_world->nested < 2 &&
        g_world->echoesLeft > 0) {
        --g_world->echoesLeft;
        ++g_world->nested;
        COPYDATASTRUCT back;
        back.dwData = MakeDwData(BLOCK_CONSOLE_DATA, uint32_t(g_world->echo.size()));
        back.cbData = DWORD(g_world->echo.size());
        back.lpData = g_world->echo.data();
        SendMessageA(g_world->state.hostWindow, WM_COPYDATA, WPARAM(g_world->partner),
                     LPARAM(&back));
        --g_world->nested;
    }
    return 1;
}

World& TheWorld()
{
    static World* world = [] {
        auto* w = new World;
        g_world = w;
        SetHostTraceSink([](const char*) {});
        // Names of this process alone: several fuzzers may share the
        // runtime folder.
        const std::string suffix = std::to_string(getpid());
        w->partner = CreateMessageWindow(("FUZZ_PARTNER_" + suffix).c_str(), PartnerProc);
        HWND host = CreateMessageWindow(("FUZZ_HOST_" + suffix).c_str(), HostWindowProcedure);
        if (!w->partner || !host) {
            std::fprintf(stderr, "dispatcher_fuzz: cannot create its windows\n");
            std::abort();
        }
        HostAttach(w->state, w->reader, host);
        return w;
    }();
    return *world;
}

class Input
{
public:
    Input(const uint8_t* data, size_t size) : m_p(data), m_end(data + size) {}
    bool Empty() const { return m_p >= m_end; }
    uint8_t Byte() { return Empty() ? 0 : *m_p++; }
    uint16_t Word() { return uint16_t(Byte() << 8 | Byte()); }
    std::vector<uint8_t> Take(size_t n)
    {
        n = std::min(n, size_t(m_end - m_p));
        std::vector<uint8_t> taken(m_p, m_p + n);
        m_p += n;
        return taken;
    }

private:
    const uint8_t* m_p;
    const uint8_t* m_end;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    World& world = TheWorld();
    world.echoesLeft = 8;
    Input in(data, size);
    while (!in.Empty()) {
        const uint8_t op = in.Byte();
        switch (op % 6) {
        case 0: { // command text; cbData may cut it before its NUL
            std::vector<uint8_t> text = in.Take(in.Byte());
            const DWORD cbData = DWORD(text.size());
            if (op & 0x80)
                text.push_back(0);
            COPYDATASTRUCT block{MakeDwData(BLOCK_COMMAND, 0), cbData,
                                 text.empty() ? nullptr : text.data()};
            SendMessageA(world.state.hostWindow, WM_COPYDATA, WPARAM(world.partner),
                         LPARAM(&block));
            break;
        }
        case 1: { // console data; the length field may exceed cbData
            const uint16_t length = in.Word();
            std::vector<uint8_t> octets = in.Take(length);
            const uint32_t field = (op & 0x40) ? length : uint32_t(octets.size());
            COPYDATASTRUCT block{MakeDwData(BLOCK_CONSOLE_DATA, field), DWORD(octets.size()),
                                 octets.empty() ? nullptr : octets.data()};
            SendMessageA(world.state.hostWindow, WM_COPYDATA, WPARAM(world.partner),
                         LPARAM(&block));
            break;
        }
        case 2: // a forged report with a pointer that must never be read
            SendMessageA(world.state.hostWindow, MSG_PARAM_REPORT, (op & 0x80) ? REPORT_WPARAM : 7,
                         LPARAM(0x10 + in.Byte()));
            break;
        case 3:
            HostToggleDebug(world.state);
            break;
        case 4: { // a block of some other kind
            uint8_t octet = in.Byte();
            COPYDATASTRUCT block{MakeDwData(BLOCK_ENCODED + (op & 3), KEEP_ALIVE_LENGTH), 1,
                                 &octet};
            SendMessageA(world.state.hostWindow, WM_COPYDATA, WPARAM(world.partner),
                         LPARAM(&block));
            break;
        }
        case 5: // what the partner sends back from inside its report handler
            world.echo = in.Take(in.Byte());
            break;
        }
    }
    world.echo.clear();
    return 0;
}
