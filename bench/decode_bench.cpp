// Decoding throughput on the two corpora, side by side with a bare one-pass
// TLV walk (the practical limit for any decoder). Every decoding benchmark
// reports its throughput as a ratio of the walk's ("vs_walk", the median of
// walk and decoder passes taken in turn: bench/walk_pairs.h) and its heap
// allocations per decoded node and per octet.

#include "bench/alloc_counter.h"
#include "bench/corpus.h"
#include "bench/host_counters.h"
#include "bench/walk_pairs.h"

#include "ember/tree/stream_reader.h"
#include "host/report_reader.h"
#include "tests/support/tree_report_reader.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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

using bench_walk::TlvWalker;

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
    bench_walk::Pairs pairs(state, corpus);
    for (auto _ : state) {
        pairs.Walk();
        CountingReader reader(0);
        const uint64_t before = bench_alloc::Count();
        for (size_t at = 0; at < corpus.size(); at += block)
            reader.FeedBlock(corpus.data() + at,
                             uint32_t(std::min<size_t>(block, corpus.size() - at)));
        allocations = bench_alloc::Count() - before;
        nodes = reader.nodes;
        errors = reader.errors;
        pairs.Worked(corpus.size());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corpus.size()));
    pairs.Report();
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
    bench_walk::Pairs pairs(state, corpus);
    for (auto _ : state) {
        pairs.Walk();
        bench_host::Harness host;
        const uint64_t before = bench_alloc::Count();
        host.Feed(corpus.data(), corpus.size(), block);
        allocations = bench_alloc::Count() - before;
        nodes = host.Nodes();
        reports = host.Reports();
        forwarded = host.Forwarded();
        pairs.Worked(corpus.size());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corpus.size()));
    pairs.Report();
    state.counters["nodes"] = double(nodes);
    state.counters["reports"] = double(reports);
    state.counters["forwarded"] = double(forwarded);
    state.counters["allocs_per_node"] = double(allocations) / double(nodes ? nodes : 1);
    state.counters["allocs_per_octet"] = double(allocations) / double(corpus.size());
    state.SetLabel(CorpusName(kind));
}

// The corpus as a file, written once per process, for the tool to read:
// in $KORVANE_BENCH_CORPUS_DIR as <corpus>.bin, kept (for
// scripts/bench_instructions.py), else in /tmp, removed at exit.
const std::string& CorpusFile(int kind)
{
    static std::string paths[2];
    std::string& path = paths[kind];
    if (path.empty()) {
        const char* keep = std::getenv("KORVANE_BENCH_CORPUS_DIR");
        path =
            keep ? std::string(keep) + "/" + CorpusName(kind) + ".bin"
                 : "/tmp/korvane_decode_bench_" + std::to_string(getpid()) + "_" + CorpusName(kind);
        const std::vector<uint8_t>& corpus = Corpus(kind);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(corpus.data()), std::streamsize(corpus.size()));
        if (!keep)
            std::atexit([] {
                for (const std::string& p : paths)
                    if (!p.empty())
                        std::remove(p.c_str());
            });
    }
    return path;
}

// Runs `korvane decode FILE > /dev/null`; returns its CPU time (user and
// system), or -1 when it could not run or failed.
double ToolDecodeSeconds(const std::string& file)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::string tool = KORVANE_CLI_PATH;
    std::string command = "decode";
    std::string input = file;
    char* argv[] = {tool.data(), command.data(), input.data(), nullptr};
    pid_t child = 0;
    const int spawned = posix_spawn(&child, tool.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The whole tool: process start, reading the file, decoding, the report
// lines written to /dev/null; paired with the walk like the rest.
void BM_ToolDecode(benchmark::State& state)
{
    const int kind = int(state.range(0));
    const std::vector<uint8_t>& corpus = Corpus(kind);
    const std::string& file = CorpusFile(kind);
    bench_walk::Pairs pairs(state, corpus);
    for (auto _ : state) {
        pairs.Walk();
        const double seconds = ToolDecodeSeconds(file);
        if (seconds < 0) {
            state.SkipWithError("korvane decode failed");
            break;
        }
        pairs.Worked(corpus.size(), seconds);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corpus.size()));
    pairs.Report();
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
    bench_walk::Pairs pairs(state, corpus);
    for (auto _ : state) {
        pairs.Walk();
        ReportCounter<Reader> reader;
        const uint64_t before = bench_alloc::Count();
        for (size_t at = 0; at < corpus.size(); at += block)
            reader.FeedBlock(corpus.data() + at,
                             uint32_t(std::min<size_t>(block, corpus.size() - at)));
        allocations = bench_alloc::Count() - before;
        reports = reader.reports;
        pairs.Worked(corpus.size());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corpus.size()));
    pairs.Report();
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
// At least two seconds each: enough walk and decoder pairs for a median.
BENCHMARK(BM_PlainDecode)->Arg(Answers)->Arg(Snapshots)->MinTime(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReportDecode)
    ->ArgsProduct({{Answers, Snapshots}, {1, 64, 4096}})
    ->MinTime(2)
    ->Unit(benchmark::kMillisecond);
// Real time: the work is another process's, so this one's CPU time says nothing.
BENCHMARK(BM_ToolDecode)
    ->Arg(Answers)
    ->Arg(Snapshots)
    ->MinTime(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReportReaderOctets)
    ->Arg(Answers)
    ->Arg(Snapshots)
    ->MinTime(2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReportReaderTree)
    ->Arg(Answers)
    ->Arg(Snapshots)
    ->MinTime(2)
    ->Unit(benchmark::kMillisecond);
