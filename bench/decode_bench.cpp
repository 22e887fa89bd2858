// Decoding throughput on the two corpora, side by side with a bare one-pass
// TLV walk (the practical limit for any decoder). Every decoding benchmark
// reports its throughput as a ratio of the walk's ("vs_walk") and its heap
// allocations per decoded node and per octet.

#include "bench/alloc_counter.h"
#include "bench/corpus.h"
#include "bench/host_counters.h"

#include "ember/tree/stream_reader.h"
#include "host/report_reader.h"
#include "tests/support/tree_report_reader.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <map>

namespace {

constexpr size_t kCorpusOctets = 16u << 20;

enum CorpusKind
{
    Answers = 0,
    Snapshots = 1,
};

const std::vector<uint8_t>& Corpus(int kind)
{
    static const std::vector<uint8_t> answers = bench_corpus::MakeAnswerStream(kCorpusOctets);
    static const std::vector<uint8_t> snapshots = bench_corpus::MakeSnapshotStream(kCorpusOctets);
    return kind == Answers ? answers : snapshots;
}

const char* CorpusName(int kind)
{
    return kind == Answers ? "answers" : "snapshots";
}

// One recursive pass over definite and indefinite TLVs; counts elements.
class TlvWalker
{
public:
    TlvWalker(const uint8_t* data, size_t size) : m_p(data), m_end(data + size) {}

    uint64_t WalkAll()
    {
        while (m_p < m_end)
            if (!Element())
                break;
        return m_elements;
    }

private:
    bool Element()
    {
        if (m_end - m_p < 2)
            return false;
        const uint8_t first = *m_p++;
        if ((first & 0x1F) == 0x1F) {
            while (m_p < m_end && (*m_p & 0x80))
                ++m_p;
            ++m_p;
        }
        if (m_p >= m_end)
            return false;
        uint32_t length = *m_p++;
        bool indefinite = false;
        if (length == 0x80) {
            indefinite = true;
        } else if (length & 0x80) {
            const uint32_t n = length & 0x7F;
            length = 0;
            for (uint32_t i = 0; i < n && m_p < m_end; ++i)
                length = (length << 8) | *m_p++;
        }
        ++m_elements;
        if (!(first & 0x20)) {
            m_p += std::min<size_t>(length, size_t(m_end - m_p));
            return true;
        }
        if (indefinite) {
            while (m_end - m_p >= 2 && !(m_p[0] == 0 && m_p[1] == 0))
                if (!Element())
                    return false;
            m_p += 2;
            return true;
        }
        const uint8_t* end = m_p + std::min<size_t>(length, size_t(m_end - m_p));
        while (m_p < end)
            if (!Element())
                return false;
        return true;
    }

    const uint8_t* m_p;
    const uint8_t* m_end;
    uint64_t m_elements = 0;
};

double CpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Throughput of the walk on a corpus, measured once per process (median of
// five passes), as the yardstick of every ratio.
double WalkOctetsPerSecond(int kind)
{
    static std::map<int, double> cache;
    auto found = cache.find(kind);
    if (found != cache.end())
        return found->second;
    const std::vector<uint8_t>& corpus = Corpus(kind);
    std::vector<double> rates;
    // CPU time, as the rates of the benchmarks themselves.
    for (int pass = 0; pass < 5; ++pass) {
        const double start = CpuSeconds();
        TlvWalker walker(corpus.data(), corpus.size());
        benchmark::DoNotOptimize(walker.WalkAll());
        rates.push_back(double(corpus.size()) / (CpuSeconds() - start));
    }
    std::sort(rates.begin(), rates.end());
    return cache[kind] = rates[2];
}

// Throughput over the walk's: the octets decoded per second of CPU time
// (measured around the benchmark loop) divided by the walk's.
void SetRatio(benchmark::State& state, int kind, size_t octets, double cpuSeconds)
{
    const double rate = double(state.iterations()) * double(octets) / cpuSeconds;
    state.counters["vs_walk"] = rate / WalkOctetsPerSecond(kind);
}

void BM_BaselineWalk(benchmark::State& state)
{
    const int kind = int(state.range(0));
    const std::vector<uint8_t>& corpus = Corpus(kind);
    uint64_t elements = 0;
    for (auto _ : state) {
        TlvWalker walker(corpus.data(), corpus.size());
        elements = walker.WalkAll();
        benchmark::DoNotOptimize(elements);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corpus.size()));
    state.counters["elements"] = double(elements);
    state.SetLabel(CorpusName(kind));
}

// Counts nodes as a plain reader builds them.
class CountingReader : public CEmber_StreamReader
{
public:
    explicit CountingReader(uint8_t mode) : CEmber_StreamReader(mode) {}
    void OnNodeOpened(CEmber_Node*) override { ++nodes; }
    void OnNodeComplete(CEmber_Node* node) override
    {
        if (!node->IsContainer())
            ++nodes;
    }
    void OnError(const CEmber_Exception&) override { ++errors; }
    uint64_t nodes = 0;
    uint64_t errors = 0;
};

void BM_PlainDecode(benchmark::State& state)
{
    const int kind = int(state.range(0));
    const std::vector<uint8_t>& corpus = Corpus(kind);
    const uint32_t block = 4096;
    uint64_t nodes = 0, errors = 0, allocations = 0;
    const double start = CpuSeconds();
    for (auto _ : state) {
        CountingReader reader(0);
        const uint64_t before = bench_alloc::Count();
        for (size_t at = 0; at < corpus.size(); at += block)
            reader.FeedBlock(corpus.data() + at,
                             uint32_t(std::min<size_t>(block, corpus.size() - at)));
        allocations = bench_alloc::Count() - before;
        nodes = reader.nodes;
        errors = reader.errors;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corpus.size()));
    SetRatio(state, kind, corpus.size(), CpuSeconds() - start);
    state.counters["nodes"] = double(nodes);
    state.counters["errors"] = double(errors);
    state.counters["allocs_per_node"] = double(allocations) / double(nodes ? nodes : 1);
    state.counters["allocs_per_octet"] = double(allocations) / double(corpus.size());
    state.SetLabel(CorpusName(kind));
}

void BM_ReportDecode(benchmark::State& state)
{
    const int kind = int(state.range(0));
    const uint32_t block = uint32_t(state.range(1));
    const std::vector<uint8_t>& corpus = Corpus(kind);
    uint64_t nodes = 0, reports = 0, forwarded = 0, allocations = 0;
    const double start = CpuSeconds();
    for (auto _ : state) {
        bench_host::Harness host;
        const uint64_t before = bench_alloc::Count();
        host.Feed(corpus.data(), corpus.size(), block);
        allocations = bench_alloc::Count() - before;
        nodes = host.Nodes();
        reports = host.Reports();
        forwarded = host.Forwarded();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corpus.size()));
    SetRatio(state, kind, corpus.size(), CpuSeconds() - start);
    state.counters["nodes"] = double(nodes);
    state.counters["reports"] = double(reports);
    state.counters["forwarded"] = double(forwarded);
    state.counters["allocs_per_node"] = double(allocations) / double(nodes ? nodes : 1);
    state.counters["allocs_per_octet"] = double(allocations) / double(corpus.size());
    state.SetLabel(CorpusName(kind));
}

// The report reader alone (no host), fed in blocks of 4096: from the
// octets (CReportReader, trace off) and, as it was, building and walking
// each tree (the reference kept in tests/support).
template <typename Reader>
class ReportCounter : public Reader
{
public:
    uint64_t reports = 0;

protected:
    void SendReport(const char*) override { ++reports; }
};

template <typename Reader>
void ReportReaderRow(benchmark::State& state)
{
    const int kind = int(state.range(0));
    const std::vector<uint8_t>& corpus = Corpus(kind);
    const uint32_t block = 4096;
    uint64_t reports = 0, allocations = 0;
    const double start = CpuSeconds();
    for (auto _ : state) {
        ReportCounter<Reader> reader;
        const uint64_t before = bench_alloc::Count();
        for (size_t at = 0; at < corpus.size(); at += block)
            reader.FeedBlock(corpus.data() + at,
                             uint32_t(std::min<size_t>(block, corpus.size() - at)));
        allocations = bench_alloc::Count() - before;
        reports = reader.reports;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corpus.size()));
    SetRatio(state, kind, corpus.size(), CpuSeconds() - start);
    state.counters["reports"] = double(reports);
    state.counters["allocs_per_octet"] = double(allocations) / double(corpus.size());
    state.SetLabel(CorpusName(kind));
}

void BM_ReportReaderOctets(benchmark::State& state)
{
    ReportReaderRow<CReportReader>(state);
}

void BM_ReportReaderTree(benchmark::State& state)
{
    ReportReaderRow<CTreeReportReader>(state);
}

} // namespace

BENCHMARK(BM_BaselineWalk)->Arg(Answers)->Arg(Snapshots)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainDecode)->Arg(Answers)->Arg(Snapshots)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReportDecode)
    ->ArgsProduct({{Answers, Snapshots}, {1, 64, 4096}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReportReaderOctets)->Arg(Answers)->Arg(Snapshots)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReportReaderTree)->Arg(Answers)->Arg(Snapshots)->Unit(benchmark::kMillisecond);
