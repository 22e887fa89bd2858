#include "tests/support/report_differential.h"

#include "ember/ber/exception.h"
#include "host/report_reader.h"
#include "tests/support/tree_report_reader.h"

#include <algorithm>
#include <random>

namespace testing_support {

namespace {

template <typename Reader>
std::string StateText(const Reader& reader)
{
    // Appended piece by piece (GCC 12 warns wrongly of "literal" + string&&
    // at -O3, bug 105329).
    std::string text = "L";
    text += std::to_string(reader.GetSetLevels());
    text += " S";
    for (int slot = 1; slot <= 6; ++slot) {
        text += std::to_string(reader.GetSlot(slot));
        if (slot < 6)
            text += ',';
    }
    text += " M";
    text += std::to_string(reader.GetMatchPosition());
    text += " D";
    text += std::to_string(reader.GetDepth());
    return text;
}

template <typename Base>
class Logged : public Base
{
public:
    std::string log;

protected:
    void SendReport(const char* line) override
    {
        log += "report [";
        log += line;
        log += "] ";
        log += StateText(*this);
        log += '\n';
    }
    void OnError(const CEmber_Exception& error) override
    {
        log += "error ";
        log += std::to_string(error.GetCode());
        log += ' ';
        log += error.GetMessage();
        log += '\n';
    }
};

class DirectReader : public Logged<CReportReader>
{
protected:
    void OnMessageComplete() override { log += "message\n"; }
};

class ReferenceReader : public Logged<CTreeReportReader>
{
public:
    void OnNodeComplete(CEmber_Node* node) override
    {
        if (!node->GetParent() && node == GetRoot())
            log += "message\n";
        CTreeReportReader::OnNodeComplete(node);
    }
};

template <typename Reader>
std::string Run(const std::vector<uint8_t>& octets, const std::vector<size_t>& blocks)
{
    Reader reader;
    size_t at = 0;
    for (size_t block = 0; at < octets.size(); ++block) {
        const size_t size = blocks[block % blocks.size()];
        const size_t part = size == 0 ? octets.size() - at : std::min(size, octets.size() - at);
        reader.FeedBlock(octets.data() + at, uint32_t(part));
        at += part;
        reader.log += "after ";
        reader.log += std::to_string(at);
        reader.log += ": ";
        reader.log += StateText(reader);
        reader.log += '\n';
    }
    return reader.log;
}

class Maker
{
public:
    explicit Maker(uint32_t seed) : m_random(seed) {}

    std::vector<uint8_t> Stream(bool damage)
    {
        std::vector<uint8_t> out;
        const int messages = 1 + int(Pick(5));
        for (int i = 0; i < messages; ++i) {
            if (Pick(3) == 0)
                for (int g = int(Pick(5)); g > 0; --g)
                    out.push_back(uint8_t(Pick(2) ? m_random() : 0x7F));
            const std::vector<uint8_t> content = Children(0, true, false);
            Append(out, {0x7F, 0x8F, 0xFF, 0xFE, 0xD9, 0x5C, 0x80, 0x30, 0x80});
            Append(out, content);
            if (Pick(12) != 0)
                Append(out, {0, 0, 0, 0});
        }
        if (damage) {
            for (int d = int(Pick(5)); d > 0 && !out.empty(); --d) {
                const size_t at = Pick(uint32_t(out.size()));
                switch (Pick(3)) {
                case 0:
                    out[at] = uint8_t(m_random());
                    break;
                case 1:
                    out.erase(out.begin() + long(at));
                    break;
                default:
                    out.insert(out.begin() + long(at), out[at]);
                    break;
                }
            }
        }
        return out;
    }

private:
    uint32_t Pick(uint32_t n) { return uint32_t(m_random() % n); }

    static void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& part)
    {
        out.insert(out.end(), part.begin(), part.end());
    }

    static void Identifier(std::vector<uint8_t>& out, uint8_t first, uint32_t number)
    {
        if (number < 31) {
            out.push_back(uint8_t(first | number));
            return;
        }
        out.push_back(uint8_t(first | 0x1F));
        uint8_t groups[5];
        int count = 0;
        do {
            groups[count++] = uint8_t(number & 0x7F);
            number >>= 7;
        } while (number != 0);
        while (count > 1)
            out.push_back(uint8_t(0x80 | groups[--count]));
        out.push_back(groups[0]);
    }

    void Length(std::vector<uint8_t>& out, uint32_t length)
    {
        if (length < 128 && Pick(5) != 0) {
            out.push_back(uint8_t(length));
            return;
        }
        out.push_back(0x82);
        out.push_back(uint8_t(length >> 8));
        out.push_back(uint8_t(length));
    }

    // Around inner octets: the outer identifier and length.
    void Outer(std::vector<uint8_t>& out, uint8_t classBits, uint32_t number,
               const std::vector<uint8_t>& inner)
    {
        // The outer length is not checked beyond being nonzero: the inner
        // element alone decides where the element ends.
        Identifier(out, uint8_t(classBits | 0x20), number);
        if (Pick(4) == 0) {
            out.push_back(0x80);
            Append(out, inner);
            return;
        }
        Length(out, uint32_t(inner.size()));
        Append(out, inner);
    }

    std::vector<uint8_t> Value()
    {
        std::vector<uint8_t> inner;
        switch (Pick(12)) {
        case 0:
        case 1:
        case 7:
        case 8: { // a 32-bit Integer
            const uint32_t size = 1 + Pick(4);
            inner = {0x02, uint8_t(size)};
            for (uint32_t i = 0; i < size; ++i)
                inner.push_back(uint8_t(m_random()));
            break;
        }
        case 2: { // a 64-bit Integer
            inner = {0x02, 0x06, 0, 1, 2, 3, 4, uint8_t(m_random())};
            break;
        }
        case 3:
        case 4:
        case 5:
        case 6: { // a text: blanks, a zero octet, or too long for a line
            static const char* const texts[] = {"Main out", "a", "", "x y z", "tilde~ok"};
            std::string text = texts[Pick(5)];
            if (Pick(6) == 0)
                text.insert(text.begin() + long(Pick(uint32_t(text.size()) + 1)), '\0');
            if (Pick(8) == 0)
                text.append(40 + Pick(30), 'L');
            inner = {0x0C};
            Length(inner, uint32_t(text.size()));
            inner.insert(inner.end(), text.begin(), text.end());
            break;
        }
        default: {
            static const std::vector<std::vector<uint8_t>> others = {
                {0x01, 0x01, 0xFF}, {0x09, 0x01, 0x40},       {0x04, 0x02, 0x20, 0x41},
                {0x05, 0x00},       {0x0D, 0x02, 0x01, 0x02}, {0x18, 0x02, 0x31, 0x32},
                {0x02, 0x00},  // refused (202)
                {0x01, 0x00}}; // refused (201)
            // The refused ones now and then: each breaks its message.
            inner = others[Pick(Pick(20) == 0 ? 8 : 6)];
            break;
        }
        }
        return inner;
    }

    // The tag of a child: numbers that mostly differ between siblings (a
    // repeated one, now and then, breaks a keyed container), the value tag
    // and application 34 often, the aside tag under roots.
    void Tag(uint8_t& classBits, uint32_t& number, bool value, uint32_t sibling, bool underRoot,
             bool& valueTagTaken)
    {
        static const uint8_t classes[] = {0x40, 0x80, 0xC0, 0xC0};
        classBits = classes[Pick(4)];
        number = Pick(30) == 0 ? sibling : sibling + 1 + Pick(3);
        if (value && (valueTagTaken ? Pick(12) == 0 : Pick(4) != 0)) {
            valueTagTaken = m_keyed;
            classBits = 0x40;
            number = 3;
        } else if (Pick(12) == 0) {
            classBits = 0x40;
            number = underRoot && Pick(2) ? 0xFFFFACDD : 34;
        }
    }

    // Children for a container: the walk's path levels hold private
    // containers, private containers hold values.
    std::vector<uint8_t> Children(int depth, bool underRoot, bool search)
    {
        std::vector<uint8_t> content;
        uint32_t sibling = 0;
        bool valueTagTaken = false;
        const bool keyed = m_keyed;
        for (int c = int(Pick(search ? 4 : 3)) + (search ? 1 : 0); c > 0; --c) {
            m_keyed = keyed;
            Append(content, Element(depth + 1, underRoot, search, sibling, valueTagTaken));
            sibling += 4;
        }
        return content;
    }

    std::vector<uint8_t> Element(int depth, bool underRoot, bool search, uint32_t sibling,
                                 bool& valueTagTaken)
    {
        std::vector<uint8_t> out;
        uint8_t classBits = 0;
        uint32_t number = 0;
        const bool leaf = depth > 6 || (search ? Pick(3) != 0 : Pick(6) == 0);
        if (leaf) {
            Tag(classBits, number, true, sibling, underRoot, valueTagTaken);
            Outer(out, classBits, number, Value());
            return out;
        }
        Tag(classBits, number, false, sibling, underRoot, valueTagTaken);
        if (!search && depth >= 4 && Pick(2) == 0)
            classBits = 0xC0;
        uint8_t type = Pick(4) == 0 ? 0x30 : 0x31;
        if (Pick(30) == 0)
            type = 0x22; // constructed Integer: a Set node
        if (Pick(40) == 0) {
            classBits = 0x40;
            number = 0xFFFFACDC; // a root inside the message
            type = 0x30;
        }
        const bool root = classBits == 0x40 && number == 0xFFFFACDC;
        m_keyed = type != 0x30;
        const std::vector<uint8_t> content =
            Children(depth, root, search || classBits == 0xC0 || Pick(8) == 0);
        std::vector<uint8_t> inner{type};
        if (Pick(3) == 0) {
            inner.push_back(0x80);
            Append(inner, content);
            Append(inner, {0, 0, 0, 0});
        } else {
            Length(inner, uint32_t(content.size()));
            Append(inner, content);
        }
        Outer(out, classBits, number, inner);
        return out;
    }

    std::mt19937 m_random;
    // The container at hand is keyed (all but Sequences are).
    bool m_keyed = false;
};

} // namespace

std::string ReportLog(ReportPath path, const std::vector<uint8_t>& octets,
                      const std::vector<size_t>& blocks)
{
    return path == ReportPath::Direct ? Run<DirectReader>(octets, blocks)
                                      : Run<ReferenceReader>(octets, blocks);
}

std::vector<uint8_t> ReportStream(uint32_t seed, bool damage)
{
    return Maker(seed).Stream(damage);
}

} // namespace testing_support
