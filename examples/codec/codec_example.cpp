// The codec alone: encodes a parameter tree under a root, then decodes a
// stream of two such messages fed in blocks of 5 octets and prints each
// parameter the reader finds (path, value).
//
//   codec_example            prints the encoded octets and the decoded values
#include "ember/ber/exception.h"
#include "ember/ber/output_buffer.h"
#include "ember/tree/root.h"
#include "ember/tree/set.h"
#include "ember/tree/stream_reader.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kValueTag = 3; // application 3 holds a parameter's value

// Ctx path[0] › ... › Prv path.back() › Integer value, under a root.
std::vector<uint8_t> Encode(const std::vector<uint32_t>& path, int32_t value)
{
    auto parameter = std::make_unique<CEmber_AdaptiveSet>(eeBerClass_Private, path.back(), nullptr);
    parameter->AddIntegerChild(eeBerClass_Application, kValueTag, value);
    std::unique_ptr<CEmber_Node> below = std::move(parameter);
    for (size_t level = path.size() - 1; level-- > 0;) {
        auto container =
            std::make_unique<CEmber_AdaptiveSet>(eeBerClass_ContextSpecific, path[level], nullptr);
        container->AddChild(below.release(), true); // the container owns it now
        below = std::move(container);
    }
    CEmber_Root root;
    root.AddChild(below.release(), true);
    CEmber_OutputBuffer buffer;
    root.Encode(buffer);
    return {buffer.Data(), buffer.Data() + buffer.Used()};
}

// Prints the path and the Integer of every private container in a message.
class Printer : public CEmber_StreamReader
{
public:
    Printer() : CEmber_StreamReader(1) {} // 1: decoded nodes can be walked

    void OnNodeComplete(CEmber_Node* node) override
    {
        if (!node->GetParent()) // the root closed: the whole message is here
            Walk(node, "");
    }

    void OnError(const CEmber_Exception& error) override
    {
        std::printf("error %d: %s\n", int(error.GetCode()), error.GetMessage().c_str());
    }

private:
    void Walk(CEmber_Node* node, const std::string& path)
    {
        EmberPosition position = node->GetFirstChildPosition();
        while (position) {
            CEmber_Node* child = node->GetNextChild(position);
            const std::string here = path + "/" + std::to_string(child->GetTag().Number());
            int32_t value = 0;
            if (child->GetTag().ClassBits() == eeBerClass_Private &&
                child->GetIntegerChild(eeBerClass_Application, kValueTag, value))
                std::printf("decoded %s = %d\n", here.c_str(), int(value));
            else if (child->IsContainer())
                Walk(child, here);
        }
    }
};

} // namespace

int main()
{
    const std::vector<uint8_t> first = Encode({1, 2, 3, 4, 5}, 100);
    std::printf("encoded %zu octets:", first.size());
    for (const uint8_t octet : first)
        std::printf(" %02X", octet);
    std::printf("\n");

    std::vector<uint8_t> stream = first;
    const std::vector<uint8_t> second = Encode({7, 1, 2, 3, 4}, -75);
    stream.insert(stream.end(), second.begin(), second.end());
    Printer reader;
    for (size_t at = 0; at < stream.size(); at += 5) // blocks of any size will do
        reader.FeedBlock(stream.data() + at, uint32_t(std::min<size_t>(5, stream.size() - at)));
    return 0;
}
