// How decoding through the report reader scales: with the stream's size,
// with the nesting depth of a message (up to 254 nested Sets), and with the
// width of one Set (up to 1,000,000 children, just under the message node
// limit; 600,000 is the hostile console message of scripts/make_wide_set.py).
// Also the memory of a long stream: resident size after 1/16 of the stream
// and at its end, and the peak.
//
// scripts/plot_scaling.py draws MB/s against depth and width from this
// program's JSON output (--benchmark_format=json).

#include "bench/corpus.h"
#include "bench/host_counters.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double ResidentMiB()
{
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double PeakResidentMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// A pool of distinct snapshots, fed round and round to make a long stream
// without holding it in memory.
const std::vector<std::vector<uint8_t>>& SnapshotPool()
{
    static const std::vector<std::vector<uint8_t>> pool = [] {
        std::vector<std::vector<uint8_t>> messages;
        std::mt19937 rng(7);
        for (int i = 0; i < 16; ++i) {
            std::vector<uint8_t> one;
            bench_corpus::AppendSnapshot(one, rng);
            messages.push_back(std::move(one));
        }
        return messages;
    }();
    return pool;
}

// Feeds `total` octets of snapshots, round the pool, through a fresh host;
// after each message `progress(octets fed so far)` is called.
template <typename Progress>
void FeedSnapshots(size_t total, Progress progress)
{
    const auto& pool = SnapshotPool();
    bench_host::Harness host;
    size_t fed = 0;
    for (size_t index = 0; fed < total; ++index) {
        const std::vector<uint8_t>& message = pool[index % pool.size()];
        host.Feed(message.data(), message.size(), 4096);
        fed += message.size();
        progress(fed);
    }
}

// Runs first (registered first) so nothing else has inflated the peak.
void BM_LongStreamMemory(benchmark::State& state)
{
    const size_t total = size_t(state.range(0)) << 20;
    double early = 0, late = 0;
    for (auto _ : state) {
        FeedSnapshots(total, [&](size_t fed) {
            if (early == 0 && fed >= total / 16)
                early = ResidentMiB();
        });
        late = ResidentMiB();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(total));
    state.counters["rss_early_MiB"] = early;
    state.counters["rss_end_MiB"] = late;
    state.counters["rss_peak_MiB"] = PeakResidentMiB();
}

void BM_StreamSize(benchmark::State& state)
{
    const size_t total = size_t(state.range(0)) << 20;
    for (auto _ : state)
        FeedSnapshots(total, [](size_t) {});
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(total));
    state.counters["MiB"] = double(state.range(0));
}

// Decodes one message shape repeated to about 1 MiB; time per message.
void DecodeRepeated(benchmark::State& state, const std::vector<uint8_t>& message)
{
    const size_t copies = std::max<size_t>(1, (1u << 20) / message.size());
    std::vector<uint8_t> stream;
    stream.reserve(copies * message.size());
    for (size_t i = 0; i < copies; ++i)
        stream.insert(stream.end(), message.begin(), message.end());
    for (auto _ : state) {
        bench_host::Harness host;
        host.Feed(stream.data(), stream.size(), 4096);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(copies));
}

void BM_NestingDepth(benchmark::State& state)
{
    DecodeRepeated(state, bench_corpus::MakeDeepMessage(uint32_t(state.range(0))));
    state.counters["depth"] = double(state.range(0));
}

void BM_SetWidth(benchmark::State& state)
{
    const uint32_t width = uint32_t(state.range(0));
    DecodeRepeated(state, bench_corpus::MakeWideMessage(width));
    // Items are messages; per-child cost follows from the width.
    state.counters["width"] = double(width);
}

} // namespace

BENCHMARK(BM_LongStreamMemory)->Arg(256)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_StreamSize)
    ->RangeMultiplier(4)
    ->Range(1, 256)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NestingDepth)
    ->Arg(2)
    ->Arg(8)
    ->Arg(32)
    ->Arg(128)
    ->Arg(254)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetWidth)
    ->RangeMultiplier(4)
    ->Range(16, 262144)
    ->Arg(600000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);
