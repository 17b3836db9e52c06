// The keep-alive times: the setting read within its bounds, the user time-out that cannot wrap,
// and a setting that does not parse or that the system refuses, reported once and replaced by
// the shipped times.
#include "net_keepalive.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>

#include "platform.h"
#include "test_platform.h"

namespace {

bool operator==(const Net::KeepAlive& a, const Net::KeepAlive& b) {
    return a.idle == b.idle && a.interval == b.interval && a.count == b.count;
}

// Runs in a child process of its own, where the times in force are read afresh.
void inChild(const char* setting, const std::function<bool()>& work) {
    Testing::setEnvironment("FIVEINAROW_KEEPALIVE", setting);
    exit(work() ? 0 : 1);
}

}  // namespace

TEST(KeepAliveTest, ThreeNumbersWithinTheirBounds) {
    Net::KeepAlive k = {0, 0, 0};
    for (auto [text, want] : {std::make_pair("2,1,3", Net::KeepAlive{2, 1, 3}),
                              std::make_pair("3600,3600,127", Net::KeepAlive{3600, 3600, 127})}) {
        EXPECT_TRUE(Net::parseKeepAlive(text, k)) << text;
        EXPECT_TRUE(k == want) << text;
    }
    for (const char* text :
         {"0,1,1", "3601,1,1", "1,0,1", "1,3601,1", "1,1,0", "1,1,128", "168,1193,3600",
          "99999999999999999999,1,1", "-1,1,1", "+1,1,1", " 1,1,1", "1,1", "1,,1", "1,1,1,",
          "1,1,1x", "", static_cast<const char*>(nullptr)}) {
        EXPECT_FALSE(Net::parseKeepAlive(text, k)) << (text ? text : "null");
        EXPECT_TRUE(k == (Net::KeepAlive{3600, 3600, 127})) << "changed by " << text;
    }
}

TEST(KeepAliveTest, UserTimeOutIsTheProbesTimeHeldToWhatTheOptionTakes) {
    EXPECT_EQ(Net::kShippedKeepAlive.userTimeoutMs(), 55000u);
    EXPECT_EQ((Net::KeepAlive{3600, 3600, 127}.userTimeoutMs()), 460800000u);
    // (168 + 1193 * 3600) * 1000 ms wraps to 704 ms in 32 bits.
    EXPECT_EQ((Net::KeepAlive{168, 1193, 3600}.userTimeoutMs()), static_cast<unsigned>(INT_MAX));
}

TEST(KeepAliveTest, SettingOutOfRangeIsReportedAndTheShippedTimesUsed) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(inChild("168,1193,3600", [] { return Net::keepAlive() == Net::kShippedKeepAlive; }),
                testing::ExitedWithCode(0),
                "^Error: FIVEINAROW_KEEPALIVE=\"168,1193,3600\" is not idle,interval,count "
                "\\(1-3600, 1-3600, 1-127\\): using 10,5,9\n$");
}

TEST(KeepAliveTest, RefusalIsReportedOnceAndTheShippedTimesUsed) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Without a socket every option is refused.
    EXPECT_EXIT(inChild("2,1,3",
                        [] {
                            bool before = Net::keepAlive() == Net::KeepAlive{2, 1, 3};
                            Net::setKeepAlive(-1, true);
                            Net::setKeepAlive(-1, false);
                            return before && Net::keepAlive() == Net::kShippedKeepAlive;
                        }),
                testing::ExitedWithCode(0),
                std::string("^Error: FIVEINAROW_KEEPALIVE=\"2,1,3\": the system refused "
                            "SO_KEEPALIVE 1 \\(") +
                    Platform::errorText(Testing::kNoSocket) + "\\): using 10,5,9\n$");
}
