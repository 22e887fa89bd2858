// The report reader when its window's procedure throws (in-process windows
// of the POSIX message layer call the procedure directly, so the exception
// comes back through SendMessageA).
#include "host/report_reader.h"
#include "protocol/protocol.h"

#include "tests/support/ember_messages.h"
#include "winapi.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

using namespace testing_support;

LPARAM g_reportLine = 0;

LRESULT CALLBACK ThrowingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == MSG_PARAM_REPORT) {
        g_reportLine = lParam;
        throw std::runtime_error("report handler failed");
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST(ReportReader, AThrowingReportHandlerLeavesNoSendingMarkBehind)
{
    HWND window = CreateLocalWindow("report-reader-throwing", ThrowingProcedure);
    ASSERT_NE(window, nullptr);
    CReportReader reader;
    reader.Bind(window);
    const std::vector<uint8_t> message =
        Message({Ctx(7, {Ctx(1, {Ctx(2, {Ctx(3, {Ctx(4, {Prv(5, {IntValue(100)})})})})})})});
    EXPECT_THROW(reader.FeedBlock(message.data(), message.size()), std::runtime_error);
    ASSERT_NE(g_reportLine, 0);
    // A later MSG_PARAM_REPORT naming the same text is no longer the reader's own.
    EXPECT_FALSE(reader.IsSendingReport(g_reportLine));
    reader.Bind(nullptr);
    DestroyWindow(window);
}

} // namespace
