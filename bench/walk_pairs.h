// The yardstick of the decoding benchmarks: a bare one-pass TLV walk (the
// practical limit for any decoder), measured in pairs with the work it
// judges.
//
// Each benchmark iteration first walks the corpus (outside the benchmark's
// own timing) and then does its work; the pair's ratio is the walk's CPU
// time over the work's, both per octet. "vs_walk" is the median of the
// pairs' ratios, so a change of this machine's speed between passes moves
// both sides of a pair alike instead of the whole ratio.
//
// Under callgrind (scripts/bench_instructions.sh), only the work is counted:
// it is bracketed by CALLGRIND_TOGGLE_COLLECT, which costs a few
// instructions outside valgrind.
#pragma once

#include <benchmark/benchmark.h>
#include <valgrind/callgrind.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <vector>

namespace bench_walk {

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

inline double CpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Walk and work, pass by pass, for one benchmark run over one corpus.
class Pairs
{
public:
    Pairs(benchmark::State& state, const std::vector<uint8_t>& corpus)
        : m_state(state), m_corpus(corpus)
    {}

    // Walks the corpus once (not part of the benchmark's time), then starts
    // the clock of the work.
    void Walk()
    {
        m_state.PauseTiming();
        const double start = CpuSeconds();
        TlvWalker walker(m_corpus.data(), m_corpus.size());
        benchmark::DoNotOptimize(walker.WalkAll());
        m_walkSeconds = CpuSeconds() - start;
        m_state.ResumeTiming();
        CALLGRIND_TOGGLE_COLLECT;
        m_workStart = CpuSeconds();
    }

    // The work of this pass over `octets` octets is done; `seconds`, when
    // given, is its CPU time (another process's), else this process's since
    // Walk.
    void Worked(size_t octets, double seconds = -1)
    {
        const double work = seconds >= 0 ? seconds : CpuSeconds() - m_workStart;
        CALLGRIND_TOGGLE_COLLECT;
        const double walkRate = double(m_corpus.size()) / m_walkSeconds;
        const double workRate = double(octets) / work;
        m_ratios.push_back(workRate / walkRate);
    }

    // "vs_walk": the median of the pairs' ratios; "pairs": how many.
    void Report()
    {
        if (m_ratios.empty())
            return;
        std::sort(m_ratios.begin(), m_ratios.end());
        const size_t n = m_ratios.size();
        const double median = n % 2 ? m_ratios[n / 2] : (m_ratios[n / 2 - 1] + m_ratios[n / 2]) / 2;
        m_state.counters["vs_walk"] = median;
        m_state.counters["pairs"] = double(n);
    }

private:
    benchmark::State& m_state;
    const std::vector<uint8_t>& m_corpus;
    double m_walkSeconds = 0;
    double m_workStart = 0;
    std::vector<double> m_ratios;
};

} // namespace bench_walk
