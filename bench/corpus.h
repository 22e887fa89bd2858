// Deterministic corpora for the benchmarks.
//
// Answers: a stream of console answers shaped like the command trees (one
// Set level above four context levels and a private parameter holding an
// Integer, or in one message of five a UTF8String, at application 3), about
// 40 octets per message. Snapshots: a stream of large messages, each a root
// holding a few hundred parameters five or six levels deep under a mix of
// definite Sets and indefinite Sequences. Both are built with the codec's
// own tree classes and encoder, from a fixed seed.
#pragma once

#include "ember/ber/output_buffer.h"
#include "ember/tree/leaf.h"
#include "ember/tree/root.h"
#include "ember/tree/set.h"
#include "ember/tree/string_leaf.h"

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace bench_corpus {

inline void AppendEncoded(std::vector<uint8_t>& out, const CEmber_Node& node)
{
    CEmber_OutputBuffer buffer;
    node.Encode(buffer);
    out.insert(out.end(), buffer.Data(), buffer.Data() + buffer.Used());
}

inline std::string ChannelName(std::mt19937& rng)
{
    static const char* const kWords[] = {"Main", "Vox",  "Kick", "Snare", "OH",  "Bass",
                                         "Gtr",  "Keys", "FX",   "Aux",   "Mon", "Bus"};
    std::string name = kWords[rng() % 12];
    name += ' ';
    name += std::to_string(rng() % 48 + 1);
    return name;
}

// One console answer: about 40 octets.
inline void AppendAnswer(std::vector<uint8_t>& out, std::mt19937& rng, uint32_t index)
{
    CEmber_Root root;
    auto top = std::make_unique<CEmber_Set>(eeBerClass_ContextSpecific, 7, nullptr, true);
    CEmber_Container* level = top.get();
    for (uint32_t depth = 1; depth <= 4; ++depth) {
        auto next =
            std::make_unique<CEmber_Set>(eeBerClass_ContextSpecific, rng() % 8 + 1, nullptr, true);
        CEmber_Container* raw = next.get();
        level->AddChild(next.release(), true);
        level = raw;
    }
    auto parameter =
        std::make_unique<CEmber_Set>(eeBerClass_Private, rng() % 32 + 1, nullptr, true);
    if (index % 5 == 4)
        parameter->AddStringChild(eeBerClass_Application, 3, ChannelName(rng).c_str());
    else
        parameter->AddIntegerChild(eeBerClass_Application, 3, int32_t(rng() % 1024));
    level->AddChild(parameter.release(), true);
    root.AddChild(top.release(), true);
    AppendEncoded(out, root);
}

inline std::vector<uint8_t> MakeAnswerStream(size_t targetOctets, uint32_t seed = 1)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    out.reserve(targetOctets + 256);
    for (uint32_t index = 0; out.size() < targetOctets; ++index)
        AppendAnswer(out, rng, index);
    return out;
}

// A container of the snapshot's upper levels: definite Set or indefinite
// Sequence, by turns.
inline std::unique_ptr<CEmber_Container> SnapshotLevel(uint32_t number, bool asSet)
{
    if (asSet)
        return std::make_unique<CEmber_Set>(eeBerClass_ContextSpecific, number, nullptr, true);
    return std::make_unique<CEmber_Sequence>(eeBerClass_ContextSpecific, number, nullptr);
}

inline void FillSnapshotLevel(CEmber_Container& container, std::mt19937& rng, uint32_t depth,
                              uint32_t fanOut, uint32_t parameters)
{
    if (depth == 0) {
        for (uint32_t p = 1; p <= parameters; ++p) {
            auto parameter = std::make_unique<CEmber_Set>(eeBerClass_Private, p, nullptr, true);
            if (rng() % 5 == 0)
                parameter->AddStringChild(eeBerClass_Application, 3, ChannelName(rng).c_str());
            else
                parameter->AddIntegerChild(eeBerClass_Application, 3,
                                           int32_t(rng() % 100000) - 50000);
            container.AddChild(parameter.release(), true);
        }
        return;
    }
    for (uint32_t i = 1; i <= fanOut; ++i) {
        auto child = SnapshotLevel(i, (i + depth) % 2 == 0);
        FillSnapshotLevel(*child, rng, depth - 1, fanOut, parameters);
        container.AddChild(child.release(), true);
    }
}

// One snapshot: root > Set > 4 x 4 x 4 mixed levels > 5 parameters each
// (320 parameters, values six levels below the root).
inline void AppendSnapshot(std::vector<uint8_t>& out, std::mt19937& rng)
{
    CEmber_Root root;
    auto top = std::make_unique<CEmber_Set>(eeBerClass_ContextSpecific, 1, nullptr, true);
    FillSnapshotLevel(*top, rng, 3, 4, 5);
    root.AddChild(top.release(), true);
    AppendEncoded(out, root);
}

inline std::vector<uint8_t> MakeSnapshotStream(size_t targetOctets, uint32_t seed = 2)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    out.reserve(targetOctets + (64u << 10));
    while (out.size() < targetOctets)
        AppendSnapshot(out, rng);
    return out;
}

// A message with one chain of nested Sets `depth` deep holding a parameter.
inline std::vector<uint8_t> MakeDeepMessage(uint32_t depth)
{
    CEmber_Root root;
    auto top = std::make_unique<CEmber_Set>(eeBerClass_ContextSpecific, 1, nullptr, true);
    CEmber_Container* level = top.get();
    for (uint32_t d = 1; d < depth; ++d) {
        auto next =
            std::make_unique<CEmber_Set>(eeBerClass_ContextSpecific, d % 30 + 1, nullptr, true);
        CEmber_Container* raw = next.get();
        level->AddChild(next.release(), true);
        level = raw;
    }
    level->AddIntegerChild(eeBerClass_Application, 3, 42);
    root.AddChild(top.release(), true);
    std::vector<uint8_t> out;
    AppendEncoded(out, root);
    return out;
}

// A message whose one Set holds `width` Integer children with distinct tags.
inline std::vector<uint8_t> MakeWideMessage(uint32_t width)
{
    CEmber_Root root;
    auto set = std::make_unique<CEmber_Set>(eeBerClass_ContextSpecific, 1, nullptr, true);
    for (uint32_t i = 1; i <= width; ++i)
        set->AddIntegerChild(eeBerClass_ContextSpecific, i, int32_t(i));
    root.AddChild(set.release(), true);
    std::vector<uint8_t> out;
    AppendEncoded(out, root);
    return out;
}

} // namespace bench_corpus
