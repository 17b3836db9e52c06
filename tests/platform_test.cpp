// What the system underneath says and where it keeps things: its error texts, the executable's
// path.
#include "platform.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "test_platform.h"

namespace {

TEST(PlatformTest, ErrorTextsAreTheSystemsOneLineWithoutAFullStop) {
#ifdef _WIN32
    // Windows' own text, or wine's.
    const std::string refused = Platform::errorText(Testing::kConnectionRefused);
    EXPECT_TRUE(refused ==
                    "No connection could be made because the target machine actively refused it" ||
                refused == "Connection refused")
        << refused;
#else
    EXPECT_EQ(Platform::errorText(Testing::kConnectionRefused), "Connection refused");
#endif
    for (int error : {Platform::kTimedOut, Testing::kConnectionRefused, Testing::kAddressInUse}) {
        std::string text = Platform::errorText(error);
        ASSERT_FALSE(text.empty()) << error;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
        EXPECT_NE(text.back(), '.') << text;
        EXPECT_NE(text.back(), ' ') << text;
    }
    // A number the system has no text for.
    EXPECT_EQ(Platform::errorText(123456), "Unknown error 123456");
}

TEST(PlatformTest, ExecutablePathNamesThisTestProgram) {
    const std::string path = Platform::executablePath();
    EXPECT_NE(path.find("platform_test"), std::string::npos) << path;
    EXPECT_TRUE(std::ifstream(path, std::ios::binary).is_open()) << path;
}

}  // namespace
