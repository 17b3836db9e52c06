// How long Escape takes to abandon a connect that gets no answer, on the slave's join and on the
// master's connect back: from Escape pressed (key[KEY_ESC] and the keyboard callback) to the
// set-up's return with the game destroyed (its listener stopped, its port free again). The host
// that does not answer is a listening socket whose accept queue is full: the system then drops
// connection requests unanswered, as a vanished machine does. Uses the game's fixed ports on
// 127.0.0.2 and 127.0.0.3 (scripts/bench.sh runs it in a private network namespace) and needs a
// display and data/ptr.tga, like turn_loop_bench.
#include <allegro.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <thread>
#include <vector>

#include "net_stdafx.h"
#include "input.h"
#include "network_game.h"
#include "silenced.h"
#include "statistics.h"
#include "system.h"

namespace {

constexpr unsigned kMasterPort = 31211;
constexpr unsigned kSlavePort = 31212;
constexpr int kRounds = 20;
// Long enough for the set-up to be well into its connect.
constexpr std::chrono::milliseconds kConnecting{300};

using Clock = std::chrono::steady_clock;

int tcpSocket() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        throw System::Exception("socket: %s", strerror(errno));
    }
    return fd;
}

sockaddr_in address(const char* ip, unsigned port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = inet_addr(ip);
    sin.sin_port = htons(port);
    return sin;
}

void bindTo(int fd, const char* ip, unsigned port) {
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sin = address(ip, port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
        throw System::Exception("bind %s:%u: %s", ip, port, strerror(errno));
    }
}

void connectTo(int fd, const char* ip, unsigned port) {
    sockaddr_in sin = address(ip, port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
        throw System::Exception("connect %s:%u: %s", ip, port, strerror(errno));
    }
}

// ip:port listens but answers no connection request: its queue holds one that nobody accepts.
class Unanswering {
public:
    Unanswering(const char* ip, unsigned port) : server(tcpSocket()), filler(tcpSocket()) {
        bindTo(server, ip, port);
        listen(server, 0);
        connectTo(filler, ip, port);
    }
    ~Unanswering() {
        close(filler);
        close(server);
    }

private:
    int server;
    int filler;
};

// Raises Escape after kConnecting, then runs the set-up; returns the time from the key to the
// game's end. The port must be free again by then.
double escapeRound(const std::function<void()>& setUp, unsigned port) {
    Clock::time_point pressed;
    Clock::time_point back;
    {
        std::thread escape([&pressed] {
            std::this_thread::sleep_for(kConnecting);
            pressed = Clock::now();
            // As the library's input thread does: the key's state, then its callback.
            key[KEY_ESC] = 1;
            System::keyEvent(KEY_ESC);
        });
        setUp();
        back = Clock::now();
        escape.join();
    }
    key[KEY_ESC] = 0;
    System::keyEvent(KEY_ESC | 0x80);
    int probe = tcpSocket();
    bindTo(probe, "0.0.0.0", port);
    close(probe);
    return std::chrono::duration<double, std::milli>(back - pressed).count();
}

// The slave of the master round: connects from 127.0.0.3 once the master listens and sends its
// nick, so that the master connects back to 127.0.0.3, where nothing answers. Keeps the
// connection until the round ends.
class DeafSlave {
public:
    DeafSlave() {
        thread = std::thread([this] {
            sockaddr_in from = address("127.0.0.3", 0);
            sockaddr_in master = address("127.0.0.1", kMasterPort);
            for (int tries = 0; fd == -1 && tries < 100; tries++) {
                int s = socket(AF_INET, SOCK_STREAM, 0);
                if (bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
                    connect(s, reinterpret_cast<sockaddr*>(&master), sizeof master) == 0) {
                    fd = s;
                } else {
                    close(s);
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            }
            const char nick[] = {Games::NickMessage, 0, 0, 0, 4, 'd', 'e', 'a', 'f'};
            send(fd, nick, sizeof nick, MSG_NOSIGNAL);
        });
    }
    ~DeafSlave() {
        thread.join();
        close(fd);
    }

private:
    int fd = -1;
    std::thread thread;
};

void printRow(const char* name, std::vector<double> ms) {
    printf("  %-24s median %6.2f ms   90th percentile %6.2f ms   max %6.2f ms\n", name,
           Bench::median(ms), Bench::percentile(ms, 90), *std::max_element(ms.begin(), ms.end()));
}

int run() {
    {
        Bench::Silenced quiet(std::cout);
        System::init();
    }
    std::vector<double> slave, master;
    {
        // The set-ups' trace lines; no thread of theirs outlives a round.
        Bench::Silenced quiet(std::cerr);
        {
            Unanswering nobody("127.0.0.2", kMasterPort);
            for (int i = 0; i < kRounds; i++) {
                slave.push_back(
                    escapeRound([] { Games::SlaveGame("bench", "127.0.0.2", 256); }, kSlavePort));
            }
        }
        Unanswering nobody("127.0.0.3", kSlavePort);
        for (int i = 0; i < kRounds; i++) {
            master.push_back(escapeRound(
                [] {
                    DeafSlave deaf;
                    Games::MasterGame("bench", 256);
                },
                kMasterPort));
        }
    }
    printf("Escape while a connect gets no answer, to the set-up's end (%d rounds each)\n",
           kRounds);
    printRow("slave's join", slave);
    printRow("master's connect back", master);
    System::done();
    return 0;
}

}  // namespace

int main() {
    try {
        return run();
    } catch (System::Exception& e) {
        fprintf(stderr, "connect_escape_bench: %s\n", e.message().c_str());
    }
    return 1;
}
END_OF_MAIN()
