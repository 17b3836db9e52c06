// The list of games under the address prompt: nothing drawn while none is found, rows of nick and
// address, Up and Down, clicks on rows, and the ways to a listed game.
#include "game_list.h"

#include <allegro.h>
#include <gtest/gtest.h>

#include "allegro_fixture.h"
#include "net_stdafx.h"
#include "system.h"

namespace {

using Net::Datagram;

constexpr uint32_t kAlice = 0x0a070001;     // 10.7.0.1
constexpr uint32_t kAliceToo = 0x0a080001;  // 10.8.0.1
constexpr uint32_t kBob = 0x0a070002;       // 10.7.0.2

Platform::Interface card(uint32_t address) {
    Platform::Interface i;
    i.address = address;
    i.mask = 0xffff0000;
    i.up = true;
    i.canBroadcast = true;
    return i;
}

class GameListTest : public ::testing::Test {
protected:
    void SetUp() override {
        Testing::startAllegroWithoutDisplay();
        Testing::freshBackBuffer();
    }

    // An announcement of hosting from address, as the search takes it.
    void heard(uint32_t hosting, const char* nick, uint32_t address) {
        Datagram d;
        d.kind = Datagram::kAnnouncement;
        d.hosting = hosting;
        d.nick = nick;
        std::vector<unsigned char> bytes = Net::build(d);
        list.finder().take(bytes.data(), bytes.size(), address, Net::kDiscoveryMasterPort,
                           Net::DiscoveryClock::now(), {card(0x0a070000), card(0x0a080000)});
    }

    int litIn(int y0, int y1) {
        return Testing::countPixels(System::_screen, [&](int, int y, Testing::Rgb c) {
            return y >= y0 && y < y1 && c != Testing::Rgb{0, 0, 0};
        });
    }

    Games::GameList list;
};

TEST_F(GameListTest, NothingIsDrawnWhileNoGameIsFound) {
    list.draw();
    EXPECT_EQ(litIn(0, Layout::kScreenH), 0);
    std::string text = "typed";
    EXPECT_FALSE(list.step(1, text));
    EXPECT_FALSE(list.click(Layout::kListX + 2, Layout::kListFirstRowY + 2, text));
    EXPECT_EQ(text, "typed");
}

TEST_F(GameListTest, RowsAreChosenByUpDownAndClicks) {
    heard(1, "alice", kAlice);
    heard(2, "bob", kBob);
    list.draw();
    int row1 = Layout::kListFirstRowY + Layout::kListRowHeight;
    EXPECT_GT(litIn(Layout::kListHeadingY, Layout::kListHeadingY + 8), 0);
    EXPECT_GT(litIn(Layout::kListFirstRowY, Layout::kListFirstRowY + 8), 0);
    EXPECT_GT(litIn(row1, row1 + 8), 0);
    EXPECT_EQ(litIn(row1 + 8, Layout::kScreenH), 0);

    std::string text;
    ASSERT_TRUE(list.step(1, text));
    EXPECT_EQ(text, "10.7.0.1");
    ASSERT_TRUE(list.step(1, text));
    EXPECT_EQ(text, "10.7.0.2");
    ASSERT_TRUE(list.step(1, text));
    EXPECT_EQ(text, "10.7.0.2") << "Down stays on the last row";
    ASSERT_TRUE(list.step(-1, text));
    EXPECT_EQ(text, "10.7.0.1");
    Testing::freshBackBuffer();
    list.draw();
    EXPECT_GT(Testing::countPixels(
                  System::_screen,
                  [](int, int y, Testing::Rgb c) {
                      return y < Layout::kListFirstRowY + 8 && c == Testing::Rgb{255, 255, 255};
                  }),
              0)
        << "the chosen row is white";

    EXPECT_TRUE(list.click(Layout::kListAddressX + 5, row1 + 15, text));
    EXPECT_EQ(text, "10.7.0.2");
    EXPECT_FALSE(list.click(Layout::kListX - 1, row1 + 2, text));
    EXPECT_FALSE(list.click(Layout::kListRight, row1 + 2, text));
    EXPECT_FALSE(list.click(Layout::kListX + 2, row1 + Layout::kListRowHeight, text));
    EXPECT_FALSE(list.click(Layout::kListX + 2, Layout::kListFirstRowY - 1, text));
    EXPECT_EQ(text, "10.7.0.2");
}

TEST_F(GameListTest, AListedGameIsReachedByEveryWayItWasHeardBy) {
    heard(1, "alice", kAlice);
    heard(1, "alice", kAliceToo);
    std::vector<Net::Host> ways = list.waysTo("10.7.0.1");
    ASSERT_EQ(ways.size(), 2u);
    EXPECT_EQ(ways[0].address(), "10.7.0.1");
    EXPECT_EQ(ways[1].address(), "10.8.0.1");
    EXPECT_TRUE(list.waysTo("10.8.0.1").empty()) << "only the address the row shows";
    EXPECT_TRUE(list.waysTo("alice").empty());
}

}  // namespace
