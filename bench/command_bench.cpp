// The command path (parse a partner command line, pick its shape, write its
// block) for every tree shape, against a writer that puts the same octets
// straight into a reused buffer; and, as the baseline, the path as it was
// (the parser of that time, the tree built, linked and encoded after the
// empty root into a fresh buffer; tests/support/tree_command_path.h).
// "vs_direct" is a path's time per command over the direct writer's: the
// median of the ratios of passes run in pairs, one right after the other,
// so that a change of this machine's speed moves both sides alike.

#include "bench/alloc_counter.h"

#include "ember/ber/framing.h"
#include "host/command_block.h"
#include "host/command_parser.h"
#include "host/command_tree.h"
#include "tests/support/tree_command_path.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

const char* const kLines[9] = {
    nullptr,          "1,2,3,4,5,100", "1,2,3,4,5,Main~out", "1,2,3,4,5,-1", "1,2,3,0,0,-1",
    "1,2,3,0,0,Name", "1,2,3,9,0,-1",  "1,2,3,4,0,Text",     "1,2,3,4,0,7",
};

// Writes an Ember element back to front into a fixed scratch.
class BackWriter
{
public:
    void Prepend(const uint8_t* octets, size_t count)
    {
        m_at -= count;
        std::memcpy(m_octets + m_at, octets, count);
    }

    void PrependByte(uint8_t octet) { m_octets[--m_at] = octet; }

    void PrependLength(uint32_t length)
    {
        if (length < 128) {
            PrependByte(uint8_t(length));
            return;
        }
        // Octet count of the length as a signed value: 128..255 take 82 00 xx.
        int n = 1;
        while (n < 4 && (length >> (8 * n - 1)) != 0)
            ++n;
        for (int i = 0; i < n; ++i)
            PrependByte(uint8_t(length >> (8 * i)));
        PrependByte(uint8_t(0x80 | n));
    }

    void PrependIdentifier(uint8_t bits, uint32_t number)
    {
        if (number < 31) {
            PrependByte(uint8_t(bits | number));
            return;
        }
        PrependByte(uint8_t(number & 0x7F));
        for (number >>= 7; number; number >>= 7)
            PrependByte(uint8_t(0x80 | (number & 0x7F)));
        PrependByte(uint8_t(bits | 0x1F));
    }

    // Wraps everything written since `end` in a definite Set header.
    void WrapSet(uint8_t classBits, uint32_t number, size_t end)
    {
        const uint32_t content = uint32_t(end - m_at);
        PrependLength(content);
        PrependByte(0x31);
        const uint32_t inner = uint32_t(end - m_at);
        PrependLength(inner);
        PrependIdentifier(uint8_t(classBits | 0x20), number);
    }

    size_t At() const { return m_at; }
    const uint8_t* Data() const { return m_octets + m_at; }
    size_t Size(size_t end) const { return end - m_at; }

private:
    uint8_t m_octets[512];
    size_t m_at = sizeof m_octets;
};

const uint8_t kZeros[4] = {0, 0, 0, 0};

// Not inlined, so that a profile counts its instructions.
[[gnu::noinline]] void DirectEncode(const CCommandRecord& record, int shape,
                                    std::vector<uint8_t>& out)
{
    BackWriter w;
    const size_t end = w.At();
    const bool poll = shape == 3 || shape == 4 || shape == 6;
    const int pathCount = shape <= 3 ? 4 : (shape == 4 || shape == 5 ? 2 : 3);
    if (poll) {
        // Integer 1 at application 32.
        const uint8_t leaf[] = {0x02, 0x01, 0x01};
        w.Prepend(leaf, sizeof leaf);
        w.PrependByte(3);
        w.PrependIdentifier(0x60, 32);
    } else {
        const size_t leafEnd = w.At();
        if (record.value == VALUE_TEXT) {
            const size_t length = std::strlen(record.text);
            w.Prepend(reinterpret_cast<const uint8_t*>(record.text), length);
            w.PrependLength(uint32_t(length));
            w.PrependByte(0x0C);
        } else {
            const int32_t v = record.value;
            int n = 1;
            while (n < 4 && !((v >> (8 * n - 1)) == 0 || (v >> (8 * n - 1)) == -1))
                ++n;
            for (int i = 0; i < n; ++i)
                w.PrependByte(uint8_t(v >> (8 * i)));
            w.PrependByte(uint8_t(n));
            w.PrependByte(0x02);
        }
        w.PrependLength(uint32_t(w.Size(leafEnd)));
        w.PrependByte(0x63);
        w.WrapSet(0xC0, uint32_t(record.p[pathCount]), end);
    }
    for (int i = pathCount - 1; i >= 0; --i)
        w.WrapSet(0x80, uint32_t(record.p[i]), end);

    const size_t tree = w.Size(end);
    out.resize(9 + 4 + 9 + tree + 4);
    uint8_t* o = out.data();
    std::memcpy(o, kKeepAliveOctets.data(), KEEP_ALIVE_LENGTH);
    std::memcpy(o + 13, kEmberStartSequence, 9);
    std::memcpy(o + 22, w.Data(), tree);
    std::memcpy(o + 22 + tree, kZeros, 4);
}

CCommandRecord Parsed(int shape)
{
    CCommandRecord record;
    ParseCommand(kLines[shape], std::strlen(kLines[shape]), record, nullptr);
    return record;
}

// What the host does with a command line, but the send.
[[gnu::noinline]] uint32_t CommandPath(const char* line, size_t length, uint8_t* block)
{
    CCommandRecord record;
    ParseCommand(line, length, record, nullptr);
    const CommandShapeRow* row = CommandShapeRowFor(record);
    return row ? WriteCommandBlock(record, *row, block) : 0;
}

// The same as the host did it before: the tree into a fresh buffer.
[[gnu::noinline]] uint32_t TreePath(const char* line, size_t length)
{
    CCommandRecord record;
    testing_support::TreeParseCommand(line, length, record, nullptr);
    CEmber_OutputBuffer buffer;
    testing_support::TreeEncodeCommand(record, buffer);
    benchmark::DoNotOptimize(buffer.Data());
    return buffer.Used();
}

// The direct writer, the tree and the command path must all write exactly
// what the host sends.
void CheckSameOctets(int shape)
{
    const CCommandRecord record = Parsed(shape);
    CEmber_OutputBuffer tree;
    testing_support::TreeEncodeCommand(record, tree);
    std::vector<uint8_t> direct;
    DirectEncode(record, shape, direct);
    uint8_t block[kMaxCommandBlock];
    const uint32_t used = CommandPath(kLines[shape], std::strlen(kLines[shape]), block);
    if (direct.size() != tree.Used() || used != tree.Used() ||
        std::memcmp(direct.data(), tree.Data(), direct.size()) != 0 ||
        std::memcmp(block, tree.Data(), used) != 0) {
        std::fprintf(stderr, "the writers differ from the host for shape %d\n", shape);
        std::abort();
    }
}

double CpuNanos()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e9 + double(now.tv_nsec);
}

// CPU nanoseconds per call of pass over `rounds` calls.
template <typename Pass>
double NanosPerCall(Pass&& pass, int rounds)
{
    const double start = CpuNanos();
    for (int i = 0; i < rounds; ++i)
        pass();
    return (CpuNanos() - start) / rounds;
}

// The median over pairs of passes (the direct writer, then the path) of
// the path's time over the direct writer's.
template <typename Path>
double MedianRatioToDirect(int shape, Path&& path)
{
    const CCommandRecord record = Parsed(shape);
    std::vector<uint8_t> out;
    out.reserve(256);
    const auto direct = [&] {
        DirectEncode(record, shape, out);
        benchmark::DoNotOptimize(out.data());
    };
    constexpr int kPairs = 15;
    constexpr int kRounds = 20000;
    std::vector<double> ratios;
    for (int pair = 0; pair < kPairs; ++pair) {
        const double directNanos = NanosPerCall(direct, kRounds);
        ratios.push_back(NanosPerCall(path, kRounds) / directNanos);
    }
    std::nth_element(ratios.begin(), ratios.begin() + kPairs / 2, ratios.end());
    return ratios[kPairs / 2];
}

void BM_DirectWriter(benchmark::State& state)
{
    const int shape = int(state.range(0));
    CheckSameOctets(shape);
    const CCommandRecord record = Parsed(shape);
    std::vector<uint8_t> out;
    out.reserve(256);
    for (auto _ : state) {
        DirectEncode(record, shape, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(out.size()));
    state.SetLabel(kLines[shape]);
}

// Runs one path per iteration; its allocations and its vs_direct counters.
template <typename Path>
void RunPath(benchmark::State& state, int shape, Path&& path)
{
    CheckSameOctets(shape);
    uint32_t octets = 0;
    const uint64_t before = bench_alloc::Count();
    for (auto _ : state)
        octets = path();
    const double allocations = double(bench_alloc::Count() - before) / double(state.iterations());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(octets));
    state.counters["allocs_per_command"] = allocations;
    state.counters["vs_direct"] = MedianRatioToDirect(shape, path);
    state.SetLabel(kLines[shape]);
}

void BM_CommandPath(benchmark::State& state)
{
    const int shape = int(state.range(0));
    const char* line = kLines[shape];
    const size_t length = std::strlen(line);
    uint8_t block[kMaxCommandBlock];
    RunPath(state, shape, [&] {
        const uint32_t used = CommandPath(line, length, block);
        benchmark::DoNotOptimize(block);
        return used;
    });
}

void BM_TreePath(benchmark::State& state)
{
    const int shape = int(state.range(0));
    const char* line = kLines[shape];
    const size_t length = std::strlen(line);
    RunPath(state, shape, [&] { return TreePath(line, length); });
}

} // namespace

BENCHMARK(BM_DirectWriter)->DenseRange(1, 8);
BENCHMARK(BM_CommandPath)->DenseRange(1, 8);
BENCHMARK(BM_TreePath)->DenseRange(1, 8);
