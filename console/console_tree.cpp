#include "console/console_tree.h"

#include "ember/ber/output_buffer.h"
#include "ember/tree/container.h"
#include "ember/tree/leaf.h"
#include "ember/tree/root.h"
#include "ember/tree/set.h"
#include "ember/tree/string_leaf.h"
#include "protocol/protocol.h"

#include <memory>

namespace {

std::string Where(const ParameterKey& path)
{
    return path.empty() ? std::string("the root") : KeyText(path);
}

void ReadParameter(CEmber_Node& container, ParameterKey key, std::vector<ConsoleRequest>& out)
{
    ConsoleRequest request;
    request.key = std::move(key);
    CEmber_Node* leaf = container.FindChild(kLeafClass, TAG_VALUE);
    if (const auto* integer = dynamic_cast<const CEmber_Integer32*>(leaf)) {
        request.kind = ConsoleRequest::Set;
        request.value = integer->GetValue();
    } else if (const auto* text = dynamic_cast<const CEmber_UTF8String*>(leaf)) {
        request.kind = ConsoleRequest::Set;
        request.value =
            text->GetText() ? std::string(text->GetText(), text->GetLength()) : std::string();
    } else {
        request.reason =
            "parameter " + KeyText(request.key) +
            (leaf ? " holds " + leaf->GetDescription() + " at A-3" : " has no value at A-3");
    }
    out.push_back(std::move(request));
}

void ReadLevel(CEmber_Node& level, ParameterKey& path, std::vector<ConsoleRequest>& out)
{
    EmberPosition position = level.GetFirstChildPosition();
    while (position) {
        CEmber_Node* child = level.GetNextChild(position);
        const CEmber_Tag tag = child->GetTag();
        const bool container = child->IsContainer();
        if (container && tag.ClassBits() == kPathClass &&
            path.size() + 1 < kMaxParameterKeyLength) {
            path.push_back(tag.Number());
            ReadLevel(*child, path, out);
            path.pop_back();
        } else if (container && tag.ClassBits() == kParameterClass && !path.empty()) {
            ParameterKey key = path;
            key.push_back(tag.Number());
            ReadParameter(*child, std::move(key), out);
        } else if (!container && tag.ClassBits() == kLeafClass && tag.Number() == TAG_POLL &&
                   !path.empty()) {
            ConsoleRequest request;
            request.kind = ConsoleRequest::Poll;
            request.key = path;
            out.push_back(std::move(request));
        } else {
            ConsoleRequest request;
            request.reason = child->GetDescription() + " in " + Where(path);
            out.push_back(std::move(request));
        }
    }
}

} // namespace

std::vector<ConsoleRequest> ReadRequests(CEmber_Node& root)
{
    std::vector<ConsoleRequest> requests;
    ParameterKey path;
    ReadLevel(root, path, requests);
    return requests;
}

std::vector<uint8_t> EncodeAnswer(uint32_t top, const std::vector<ParameterEntry>& parameters)
{
    if (parameters.empty())
        return {};
    auto topLevel = std::make_unique<CEmber_AdaptiveSet>(kPathClass, top, nullptr);
    for (const auto& [key, value] : parameters) {
        CEmber_Node* level = topLevel.get();
        for (size_t i = 0; i + 1 < key.size(); ++i) {
            CEmber_Node* next = level->FindChild(kPathClass, key[i]);
            if (!next || !next->IsContainer()) {
                auto made = std::make_unique<CEmber_AdaptiveSet>(kPathClass, key[i], nullptr);
                next = made.get();
                level->AddChild(made.get(), true);
                (void)made.release();
            }
            level = next;
        }
        auto parameter = std::make_unique<CEmber_AdaptiveSet>(kParameterClass, key.back(), nullptr);
        if (const int32_t* number = std::get_if<int32_t>(&value)) {
            parameter->AddIntegerChild(kLeafClass, TAG_VALUE, *number);
        } else {
            const std::string& text = std::get<std::string>(value);
            auto leaf = std::make_unique<CEmber_UTF8String>(
                kLeafClass, TAG_VALUE, EmberContentLength{uint32_t(text.size())});
            std::copy(text.begin(), text.end(), leaf->GetText());
            parameter->AddChild(leaf.get(), true);
            (void)leaf.release();
        }
        level->AddChild(parameter.get(), true);
        (void)parameter.release();
    }
    CEmber_Root root;
    root.AddChild(topLevel.get(), true);
    (void)topLevel.release();
    CEmber_OutputBuffer buffer;
    root.Encode(buffer);
    return std::vector<uint8_t>(buffer.Data(), buffer.Data() + buffer.Used());
}

const std::vector<uint8_t>& KeepAliveOctets()
{
    static const std::vector<uint8_t> octets(kKeepAliveOctets.begin(), kKeepAliveOctets.end());
    return octets;
}
