// The frame of the program (start-up, the one top-level catch, shutdown) around the main menu
// flow and its network branch.
#include "main.h"

#include <allegro.h>

#include <exception>
#include <memory>
#include <string>

#include "game_list.h"
#include "game_state.h"
#include "input.h"
#include "menu.h"
#include "net_finder.h"
#include "net_host.h"
#include "net_port_mapping.h"
#include "net_socket.h"
#include "network_game.h"
#include "output_line.h"
#include "quit_request.h"
#include "slave_port.h"
#include "system.h"
#include "text_entry.h"

namespace {

enum MainChoice { kLocalGame = 0, kNetworkGame = 1, kLeave = 2 };

enum SubChoice { kSlave = 0, kMaster = 1 };

// The board's cell count, which both network games carry.
constexpr unsigned kDataSize = 256;

// A connection failure stays on the screen until a key is pressed; keys pressed before it came
// must not take it away unseen.
void showConnectionError(Net::ConnectionException& e) {
    System::TypedKeys keys;
    e.show();
    System::waitForKey(keys);
}

// The longest DNS name; a dotted address is shorter still.
constexpr size_t kMaxAddress = 253;

std::string ask(System::TypedKeys& keys, const char* prompt, size_t maxLength,
                System::PromptChoices* choices = nullptr) {
    return System::askForText(keys, Layout::kScreenW / 2, Layout::kScreenH / 2,
                              Layout::kScreenW - Layout::kPromptMargin, prompt, maxLength, choices);
}

// The master's address, typed or chosen among the games found on the network, and when it is a
// listed game's, every way that game has been heard by (ways); the search ends with the prompt.
std::string askForMaster(System::TypedKeys& keys, std::vector<Net::Host>& ways) {
    Net::GameFinder search;
    Games::GameList found(search);
    std::string address = ask(keys, "Master's address: ", kMaxAddress, &found);
    ways = search.waysTo(address);
    return address;
}

void networkBranch(System::MenuItem* subMenuData) {
    System::Menu m2(subMenuData, "data/menu.tga", true);
    int choice = m2.exec();
    // The prompts read the keys typed from here on: what is typed after one prompt's Enter is
    // the next one's.
    System::TypedKeys keys;
    switch (choice) {
        case kSlave:
            try {
                std::vector<Net::Host> ways;
                std::string adr = askForMaster(keys, ways);
                // The router is asked while the nick is typed.
                auto port = std::make_unique<Games::SlavePort>(adr, ways, Games::kSlavePort);
                std::string nick = ask(keys, "Your nick: ", Games::kMaxNick, port.get());
                Games::SlaveGame g(nick, adr, kDataSize, ways, std::move(port));
                g.run();
            } catch (Net::HostException e) {
                e.print();
            } catch (Net::ConnectionException e) {
                showConnectionError(e);
            }
            break;
        case kMaster:
            try {
                std::string nick = ask(keys, "Your nick: ", Games::kMaxNick);
                Games::MasterGame g(nick, kDataSize);
                g.run();
            } catch (Net::ConnectionException e) {
                showConnectionError(e);
            }
            break;
        default:
            break;
    }
}

void menuFlow() {
    System::MenuItem menuData[] = {
        System::MenuItem("data/mi_local.tga", Layout::kLocalX, Layout::kMenuY),
        System::MenuItem("data/mi_net.tga", Layout::kNetX, Layout::kMenuY),
        System::MenuItem("data/mi_exit.tga", Layout::kExitX, Layout::kMenuY),
        System::MenuItem(true),
    };
    System::MenuItem subMenuData[] = {
        System::MenuItem("data/net_slave.tga", Layout::kSlaveX, Layout::kMenuY),
        System::MenuItem("data/net_master.tga", Layout::kMasterX, Layout::kMenuY),
        System::MenuItem(true),
    };
    System::Menu m(menuData, "data/menu.tga", false);

    bool end = false;
    while (!end) {
        int choice = m.exec();
        System::out() << "Choice: " << choice;
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
                System::out() << "End";
                end = true;
                break;
            default:
                break;
        }
    }
}

}  // namespace

int _main(int /*argc*/, char** /*argv*/) {
    // Scripts and service managers tell a failed run from a finished one by the status.
    int status = 0;
    try {
        System::init();
        menuFlow();
    } catch (System::Exception e) {
        e.print();
        status = 1;
    } catch (const System::QuitRequest& q) {
        // Asked to end from outside (close button, signal): every screen has been left on the
        // way here, and the objects it held, network games with their threads, are gone. The
        // player's own way out: not a failure.
        System::out() << "End: " << q.reason();
    } catch (const std::exception& e) {
        // The standard library's errors (memory exhausted, no thread to be had) end the program
        // as the program's own do, not by an abort.
        System::Exception("%s", e.what()).print();
        status = 1;
    }
    // Every way out comes here, the close button and the signals too: the screens that held port
    // mappings have given them up on the way, and the router deletes them before the sockets
    // library stops.
    Net::PortMapping::finishAll();
    System::out() << "system done";
    System::done();
    return status;
}
