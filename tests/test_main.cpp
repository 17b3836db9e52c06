// The test programs' entry: GoogleTest, with the sockets library started for every test, as the
// program starts it before its first socket.
#include <gtest/gtest.h>

#include "platform.h"

namespace {

class Sockets : public testing::Environment {
public:
    // Never stopped: static objects of the tests close their sockets after the last test.
    void SetUp() override { ASSERT_TRUE(Platform::startSockets()) << "the sockets library"; }
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new Sockets);
    return RUN_ALL_TESTS();
}
