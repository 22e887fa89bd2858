// CPU per console message in the link's framer: the framer on the boundary
// scanner against the framer as it was (the tree-building stream reader as
// its tracker), on the answer corpus (small messages, as a console sends
// them in normal operation), the snapshot corpus (large messages) and the
// recorded console capture. Pushes blocks of 4096 octets, as the link reads
// them. Reports nanoseconds per message ("ns_per_message").

#include "bench/corpus.h"

#include "ember/ber/boundary_scanner.h"
#include "partner/console_framer.h"
#include "tests/support/tree_framer.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>

namespace {

constexpr size_t kCorpusOctets = 4u << 20;
constexpr size_t kReadSize = 4096;

enum CorpusKind
{
    Answers = 0,
    Snapshots = 1,
    Capture = 2,
};

const std::vector<uint8_t>& Corpus(int kind)
{
    static const std::vector<uint8_t> answers = bench_corpus::MakeAnswerStream(kCorpusOctets);
    static const std::vector<uint8_t> snapshots = bench_corpus::MakeSnapshotStream(kCorpusOctets);
    static const std::vector<uint8_t> capture = [] {
        std::ifstream in(std::string(KORVANE_SOURCE_DIR) + "/data/console_capture.bin",
                         std::ios::binary);
        return std::vector<uint8_t>{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
    }();
    return kind == Answers ? answers : kind == Snapshots ? snapshots : capture;
}

const char* CorpusName(int kind)
{
    return kind == Answers ? "answers" : kind == Snapshots ? "snapshots" : "capture";
}

// Messages in the corpus, as the scanner counts them.
size_t MessageCount(const std::vector<uint8_t>& corpus)
{
    struct Counter : CEmber_BoundaryScanner
    {
        void OnMessageComplete() override { ++messages; }
        size_t messages = 0;
    } counter;
    for (size_t at = 0; at < corpus.size();)
        at += counter.Scan(corpus.data() + at, corpus.size() - at);
    return counter.messages;
}

template <typename Framer>
void RunFramer(benchmark::State& state)
{
    const int kind = int(state.range(0));
    const std::vector<uint8_t>& corpus = Corpus(kind);
    const size_t messages = MessageCount(corpus);
    std::vector<CConsoleFramer::Block> out;
    size_t blocks = 0;
    for (auto _ : state) {
        Framer framer;
        for (size_t at = 0; at < corpus.size(); at += kReadSize) {
            out.clear();
            framer.Push(corpus.data() + at, std::min(kReadSize, corpus.size() - at), out);
            blocks += out.size();
        }
        benchmark::DoNotOptimize(blocks);
    }
    state.SetLabel(CorpusName(kind));
    state.SetBytesProcessed(int64_t(state.iterations() * corpus.size()));
    state.counters["messages"] = double(messages);
    state.counters["ns_per_message"] =
        benchmark::Counter(double(messages) * double(state.iterations()) * 1e-9,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_FramerOnScanner(benchmark::State& state)
{
    RunFramer<CConsoleFramer>(state);
}

void BM_FramerOnTreeReader(benchmark::State& state)
{
    RunFramer<testing_support::TreeFramer>(state);
}

BENCHMARK(BM_FramerOnScanner)
    ->Arg(Answers)
    ->Arg(Snapshots)
    ->Arg(Capture)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FramerOnTreeReader)
    ->Arg(Answers)
    ->Arg(Snapshots)
    ->Arg(Capture)
    ->Unit(benchmark::kMillisecond);

} // namespace
