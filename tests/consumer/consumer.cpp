// Uses the installed codec library the way another program would: builds a
// command tree (four path levels, a parameter holding an Integer and a
// UTF8String), encodes it under a root, decodes the octets back with the
// stream reader split into small blocks, checks the values and encodes the
// decoded tree again, which must give the same octets.
#include "ember/ber/exception.h"
#include "ember/ber/output_buffer.h"
#include "ember/tree/root.h"
#include "ember/tree/set.h"
#include "ember/tree/stream_reader.h"
#include "korvane_version.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kValueTag = 3;
constexpr uint32_t kTextTag = 4;

// Takes every decoded message: the root's first child, copied out as octets.
class Reader : public CEmber_StreamReader
{
public:
    Reader() : CEmber_StreamReader(1) {}

    void OnNodeComplete(CEmber_Node* node) override
    {
        if (node->GetParent() || node != GetRoot())
            return;
        ++messages;
        // Descend the single-child chain to the parameter container.
        CEmber_Node* level = node;
        path.clear();
        while (level) {
            EmberPosition position = level->GetFirstChildPosition();
            CEmber_Node* child = position ? level->GetNextChild(position) : nullptr;
            if (!child || !child->IsContainer())
                break;
            path.push_back(child->GetTag().Number());
            level = child;
        }
        if (level && level->GetIntegerChild(eeBerClass_Application, kValueTag, value))
            haveValue = true;
        char* found = nullptr;
        if (level && level->GetStringChild(eeBerClass_Application, kTextTag, found))
            text = found;
        CEmber_OutputBuffer again;
        node->Encode(again);
        reencoded.assign(again.Data(), again.Data() + again.Used());
    }

    void OnError(const CEmber_Exception& error) override
    {
        std::fprintf(stderr, "consumer: decoding error %d: %s\n", int(error.GetCode()),
                     error.GetMessage().c_str());
        ++errors;
    }

    int messages = 0;
    int errors = 0;
    std::vector<uint32_t> path;
    int32_t value = 0;
    bool haveValue = false;
    std::string text;
    std::vector<uint8_t> reencoded;
};

bool Check(bool ok, const char* what)
{
    if (!ok)
        std::fprintf(stderr, "consumer: FAILED: %s\n", what);
    return ok;
}

} // namespace

int main()
{
    CEmber_OutputBuffer encoded;
    {
        auto parameter = std::make_unique<CEmber_AdaptiveSet>(eeBerClass_Private, 5, nullptr);
        parameter->AddIntegerChild(eeBerClass_Application, kValueTag, 100);
        parameter->AddStringChild(eeBerClass_Application, kTextTag, "Main out");
        std::unique_ptr<CEmber_Node> below = std::move(parameter);
        for (uint32_t number = 4; number >= 1; --number) {
            auto level =
                std::make_unique<CEmber_AdaptiveSet>(eeBerClass_ContextSpecific, number, nullptr);
            level->AddChild(below.get(), true);
            (void)below.release();
            below = std::move(level);
        }
        CEmber_Root root;
        root.AddChild(below.get(), true);
        (void)below.release();
        root.Encode(encoded);
    }

    Reader reader;
    const uint8_t* octets = encoded.Data();
    const uint32_t size = encoded.Used();
    for (uint32_t at = 0; at < size; at += 3)
        reader.FeedBlock(octets + at, size - at < 3 ? size - at : 3);

    const std::vector<uint8_t> original(octets, octets + size);
    const std::vector<uint32_t> expectedPath = {1, 2, 3, 4, 5};
    bool ok = true;
    ok &= Check(std::strcmp(KORVANE_VERSION, EXPECTED_VERSION) == 0,
                "korvane_version.h matches the package version");
    ok &= Check(reader.errors == 0, "no decoding error");
    ok &= Check(reader.messages == 1, "one message decoded");
    ok &= Check(reader.path == expectedPath, "path 1,2,3,4,5");
    ok &= Check(reader.haveValue && reader.value == 100, "Integer 100 at A-3");
    ok &= Check(reader.text == "Main out", "UTF8String 'Main out' at A-4");
    ok &= Check(reader.reencoded == original, "the decoded tree encodes to the same octets");
    if (!ok)
        return 1;
    std::printf("consumer: Korvane %s: %u octets encoded, decoded back to 1,2,3,4,5 = 100, "
                "'%s'\n",
                KORVANE_VERSION, size, reader.text.c_str());
    return 0;
}
