#include "ember/ber/text_list.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <limits>
#include <string>

namespace {

TEST(TextList, AppendAndJoin)
{
    CEmber_TextList list;
    EXPECT_EQ(list.Join(), "");
    char text[] = "<Node";
    EXPECT_EQ(list.Append(text), 5u);
    text[0] = 'x'; // the list holds its own copy
    EXPECT_EQ(list.Append(""), 5u);
    EXPECT_EQ(list.PieceCount(), 2u);
    EXPECT_EQ(list.Append(std::string(" tag=\"C-1\">")), 16u);
    EXPECT_EQ(list.Join(), "<Node tag=\"C-1\">");
    EXPECT_EQ(list.Join(), "<Node tag=\"C-1\">"); // joining leaves the list as it was
    EXPECT_EQ(list.Total(), 16u);
}

TEST(TextList, AppendFormatBuildsALocatedErrorText)
{
    CEmber_TextList path;
    for (const char* tag : {"A-4294946012", "C-1"})
        path.AppendFormat("%s/", tag);
    CEmber_TextList error;
    error.AppendFormat("@%s%s: %s", path.Join().c_str(), "C-2", "Invalid Integer encoding");
    EXPECT_EQ(error.Join(), "@A-4294946012/C-1/C-2: Invalid Integer encoding");
}

TEST(TextList, AppendFormatConversions)
{
    CEmber_TextList list;
    list.AppendFormat("%d|%u|", -5, 4294946012u);
    list.AppendFormat("%04d%02d%02d|", 2011, 7, 0);
    list.AppendFormat("%" PRId64 "|", std::numeric_limits<int64_t>::min());
    list.AppendFormat("%016" PRIX64 "|", uint64_t(0x1234ABCD));
    list.AppendFormat("%f|%f", 2.5, -0.125);
    EXPECT_EQ(list.Join(),
              "-5|4294946012|20110700|-9223372036854775808|000000001234ABCD|2.500000|-0.125000");
}

TEST(TextList, AppendFormatOfALongText)
{
    const std::string piece(1000, 'z');
    CEmber_TextList list;
    EXPECT_EQ(list.AppendFormat("[%s]", piece.c_str()), 1002u);
    EXPECT_EQ(list.AppendFormat("%300d", 7), 1302u);
    EXPECT_EQ(list.Join(), "[" + piece + "]" + std::string(299, ' ') + "7");
}

} // namespace
