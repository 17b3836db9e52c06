// The frame of the program (start-up, the one top-level catch, shutdown) around the main menu
// flow and its network branch.
#include "main.h"

#include <iostream>

#include "game.h"
#include "menu.h"
#include "system.h"

namespace {

enum MainChoice { kLocalGame = 0, kNetworkGame = 1, kLeave = 2 };

// Releases the pictures of an item array when the menu flow ends, however it ends: the items
// themselves do not own them.
class ItemPictures {
public:
    ItemPictures(System::MenuItem* items, int count) : items(items), count(count) {}
    ~ItemPictures() {
        for (int i = 0; i < count; i++) {
            items[i].release();
        }
    }

private:
    System::MenuItem* items;
    int count;
};

void networkBranch(System::MenuItem* subMenuData) {
    (void)subMenuData;
}

void menuFlow() {
    System::MenuItem menuData[] = {
        System::MenuItem("data/mi_local.tga", 120, 500),
        System::MenuItem("data/mi_net.tga", 368, 500),
        System::MenuItem("data/mi_exit.tga", 616, 500),
        System::MenuItem(true),
    };
    ItemPictures menuPictures(menuData, 3);
    System::MenuItem subMenuData[] = {
        System::MenuItem("data/net_slave.tga", 200, 500),
        System::MenuItem("data/net_master.tga", 636, 500),
        System::MenuItem(true),
    };
    ItemPictures subMenuPictures(subMenuData, 2);
    System::Menu m(menuData, "data/menu.tga", false);

    bool end = false;
    while (!end) {
        int choice = m.exec();
        std::cout << "Choice: " << choice << std::endl;
        switch (choice) {
            case kLocalGame: {
                Games::LocalGame g;
                g.run();
                break;
            }
            case kNetworkGame:
                networkBranch(subMenuData);
                break;
            case kLeave:
                std::cout << "End" << std::endl;
                end = true;
                break;
            default:
                break;
        }
    }
}

}  // namespace

int _main(int /*argc*/, char** /*argv*/) {
    try {
        System::init();
        menuFlow();
    } catch (System::Exception e) {
        e.print();
    }
    std::cout << "system done" << std::endl;
    System::done();
    return 0;
}
