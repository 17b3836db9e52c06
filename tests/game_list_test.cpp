// The list of games under the address prompt: Up and Down, clicks on rows, and the ways to a listed
// game (what it draws is read from the window by the LAN's window tests).
#include "game_list.h"

#include <allegro.h>
#include <gtest/gtest.h>

#include "allegro_fixture.h"
#include "net_stdafx.h"
#include "system.h"

namespace {

using Net::Datagram;

class GameListTest : public ::testing::Test {
protected:
    void SetUp() override {
        Testing::startAllegroWithoutDisplay();
        Testing::freshBackBuffer();
    }

    // An announcement of hosting from address (10.7.0.x or 10.8.0.x), as the search takes it.
    void heard(uint32_t hosting, const char* nick, uint32_t address) {
        std::vector<unsigned char> b = Net::build({Datagram::kAnnouncement, 0, hosting, nick});
        list.finder().take(b.data(), b.size(), address, Net::kDiscoveryMasterPort,
                           Net::DiscoveryClock::now(),
                           {{address, 0xffffff00, 0, true, false, false, true}});
    }

    Games::GameList list;
};

TEST_F(GameListTest, RowsAreChosenByUpDownAndClicks) {
    int row0 = Layout::kListFirstRowY, row1 = row0 + Layout::kListRowHeight;
    std::string text = "typed";
    EXPECT_FALSE(list.step(1, text));
    EXPECT_FALSE(list.click(Layout::kListX + 2, row0 + 2, text));
    EXPECT_EQ(text, "typed") << "nothing is chosen while no game is found";
    heard(1, "alice", 0x0a070001);
    heard(2, "bob", 0x0a070002);
    // Down stays on the last row.
    const std::pair<int, const char*> steps[] = {
        {1, "10.7.0.1"}, {1, "10.7.0.2"}, {1, "10.7.0.2"}, {-1, "10.7.0.1"}};
    for (auto [direction, address] : steps) {
        ASSERT_TRUE(list.step(direction, text));
        EXPECT_EQ(text, address);
    }
    EXPECT_TRUE(list.click(Layout::kListAddressX + 5, row1 + 15, text));
    EXPECT_EQ(text, "10.7.0.2");
    EXPECT_FALSE(list.click(Layout::kListX - 1, row1 + 2, text));
    EXPECT_FALSE(list.click(Layout::kListRight, row1 + 2, text));
    EXPECT_FALSE(list.click(Layout::kListX + 2, row1 + Layout::kListRowHeight, text));
    EXPECT_FALSE(list.click(Layout::kListX + 2, row0 - 1, text));
    EXPECT_EQ(text, "10.7.0.2");
}

TEST_F(GameListTest, AListedGameIsReachedByEveryWayItWasHeardBy) {
    heard(1, "alice", 0x0a070001);
    heard(1, "alice", 0x0a080001);
    std::vector<Net::Host> ways = list.waysTo("10.7.0.1");
    ASSERT_EQ(ways.size(), 2u);
    EXPECT_EQ(ways[0].address(), "10.7.0.1");
    EXPECT_EQ(ways[1].address(), "10.8.0.1");
    EXPECT_TRUE(list.waysTo("10.8.0.1").empty()) << "only the address the row shows";
    EXPECT_TRUE(list.waysTo("alice").empty());
}

}  // namespace
