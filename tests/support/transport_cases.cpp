#include "tests/support/transport_cases.h"

#include "protocol/protocol.h"
#include "tests/support/ember_messages.h"
#include "tests/support/hex.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace testing_support {

namespace {

using Octets = std::vector<uint8_t>;

TransportBlock Block(uint32_t kind, const Octets& octets)
{
    return {MakeDwData(kind, uint32_t(octets.size())), octets};
}

TransportSend Command(const std::string& text, intptr_t result = 1)
{
    Octets octets(text.begin(), text.end());
    octets.push_back(0);
    return {Block(BLOCK_COMMAND, octets), result};
}

TransportSend Console(const Octets& octets)
{
    return {Block(BLOCK_CONSOLE_DATA, octets), 1};
}

TransportBlock Encoded(const std::string& hex)
{
    return Block(BLOCK_ENCODED, Hex(hex));
}

// The report field: the line and its NUL in dwData's length, the whole
// field (zeros behind the line) as the block.
TransportBlock Report(const std::string& line)
{
    Octets field(REPORT_FIELD_SIZE, 0);
    std::memcpy(field.data(), line.data(), line.size());
    return {MakeDwData(BLOCK_REPORT, uint32_t(line.size() + 1)), field};
}

// Root > C-7 > C-p1..C-p4 > P-p5 > the value.
Octets Parameter(const int (&p)[5], const Element& value)
{
    return SplicedMessage(
        {Ctx(7, {Ctx(uint32_t(p[0]),
                     {Ctx(uint32_t(p[1]),
                          {Ctx(uint32_t(p[2]),
                               {Ctx(uint32_t(p[3]), {Prv(uint32_t(p[4]), {value})})})})})})});
}

Octets Part(const Octets& octets, size_t from, size_t to)
{
    return Octets(octets.begin() + std::ptrdiff_t(from), octets.begin() + std::ptrdiff_t(to));
}

std::vector<TransportCase> MakeCases()
{
    const std::string kWorkedExample =
        "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 A1 17 31 15 "
        "A2 13 31 11 A3 0F 31 0D A4 0B 31 09 E5 07 31 05 63 03 02 01 64 00 00 00 00";
    const std::string kRoots = "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 ";
    const std::string kTextCommand = kRoots +
                                     "A1 21 31 1F A2 1D 31 1B A3 19 31 17 A4 15 31 13 E5 11 31 0F "
                                     "63 0D 0C 0B 68 65 6C 6C 6F 20 77 6F 72 6C 64 00 00 00 00";
    const std::string kPoll = kRoots + "A1 0C 31 0A A2 08 31 06 7F 20 03 02 01 01 00 00 00 00";
    const Octets withoutNul = {'1', ',', '2', ',', '3', ',', '4', ',', '5', ',', '1', '0', '0'};
    const Octets split = Parameter({1, 2, 3, 4, 6}, IntValue(-300));
    const Octets keepAlive = {0x7F, 0x8F, 0xFF, 0xFE, 0xD9, 0x5C, 0x80,
                              0x30, 0x80, 0xA1, 0x80, 0x31, 0x80};
    const Octets garbage = Hex("00 11 7F 8F FF 22 A1 05 31 03 33 44 55");
    Octets broken = Parameter({1, 2, 3, 4, 7}, IntValue(1));
    broken.resize(broken.size() - 9);
    broken.push_back(0x05); // where an identifier belongs: universal, primitive

    std::vector<TransportCase> cases;
    cases.push_back({"an integer command gives its encoded tree",
                     {Command("1,2,3,4,5,100")},
                     {Encoded(kWorkedExample)}});
    cases.push_back({"a text command gives its encoded tree",
                     {Command("1,2,3,4,5,hello~world")},
                     {Encoded(kTextCommand)}});
    cases.push_back({"a poll gives its encoded tree", {Command("1,2,3,0,0,-1")}, {Encoded(kPoll)}});
    cases.push_back({"a command without a NUL is read up to cbData",
                     {{Block(BLOCK_COMMAND, withoutNul), 1}},
                     {Encoded(kWorkedExample)}});
    cases.push_back({"commands that give no tree send nothing",
                     {Command("1,2,3", 0), Command("", 0), Command("1,2,3,4,5,-3", 0),
                      Command("1,0,3,4,5,6", 1), Command("1,2,3,0,7,-1", 1)},
                     {}});
    cases.push_back({"a block of a kind the service does not take is answered 1",
                     {{Block(BLOCK_ENCODED, {'a', 'b', 'c', 'd'}), 1}},
                     {}});
    cases.push_back({"a console message gives its integer report",
                     {Console(Parameter({1, 2, 3, 4, 5}, IntValue(7)))},
                     {Report("1,2,3,4,5,7")}});
    cases.push_back({"a console message gives its text report",
                     {Console(Parameter({1, 2, 3, 4, 5}, TextValue("Main out")))},
                     {Report("1,2,3,4,5,Main~out \n")}});
    cases.push_back(
        {"a message split over blocks, garbage around it, gives one report",
         {Console(Join({garbage, Part(split, 0, 5)})), Console(Part(split, 5, split.size() - 3)),
          Console(Join({Part(split, split.size() - 3, split.size()), garbage}))},
         {Report("1,2,3,4,6,-300")}});
    cases.push_back({"a repeated report reaches the partner once",
                     {Console(Parameter({2, 2, 3, 4, 5}, IntValue(20))),
                      Console(Parameter({2, 2, 3, 4, 5}, IntValue(20))),
                      Console(Parameter({2, 2, 3, 4, 5}, IntValue(21))),
                      Console(Parameter({2, 2, 3, 4, 5}, IntValue(20)))},
                     {Report("2,2,3,4,5,20"), Report("2,2,3,4,5,21"), Report("2,2,3,4,5,20")}});
    cases.push_back({"a keep-alive is echoed unchanged and not decoded",
                     {Console(keepAlive), Console(Parameter({3, 2, 3, 4, 5}, IntValue(9)))},
                     {Block(BLOCK_CONSOLE_DATA, keepAlive), Report("3,2,3,4,5,9")}});
    cases.push_back({"a broken message is dropped and the next one read",
                     {Console(broken), Console(Parameter({4, 2, 3, 4, 5}, IntValue(102)))},
                     {Report("4,2,3,4,5,102")}});
    cases.push_back({"two parameters of one message give a report each",
                     {Console(SplicedMessage({Ctx(
                         7, {Ctx(5, {Ctx(2, {Ctx(3, {Ctx(4, {Prv(5, {IntValue(11)}),
                                                             Prv(6, {IntValue(12)})})})})})})}))},
                     {Report("5,2,3,4,5,11"), Report("5,2,3,4,6,12")}});
    return cases;
}

// dwData, cbData and the octets, the zeros at the end counted.
std::string Describe(const TransportBlock& block)
{
    size_t used = block.octets.size();
    while (used > 0 && block.octets[used - 1] == 0)
        --used;
    char head[64];
    std::snprintf(head, sizeof head,
                  "dwData %#llx cbData %zu: ", static_cast<unsigned long long>(block.dwData),
                  block.octets.size());
    return head + ToHex(block.octets.data(), used) + " and " +
           std::to_string(block.octets.size() - used) + " zeros";
}

} // namespace

const std::vector<TransportCase>& TransportCases()
{
    static const std::vector<TransportCase> cases = MakeCases();
    return cases;
}

void RunTransportCases(const std::function<intptr_t(const TransportBlock&)>& send,
                       const std::function<std::vector<TransportBlock>()>& take)
{
    for (const TransportCase& c : TransportCases()) {
        SCOPED_TRACE(c.name);
        take();
        for (const TransportSend& in : c.in)
            EXPECT_EQ(send(in.block), in.result) << Describe(in.block);
        const std::vector<TransportBlock> out = take();
        std::vector<std::string> expected;
        for (const TransportBlock& block : c.out)
            expected.push_back(Describe(block));
        std::vector<std::string> actual;
        for (const TransportBlock& block : out)
            actual.push_back(Describe(block));
        EXPECT_EQ(actual, expected);
    }
}

} // namespace testing_support
