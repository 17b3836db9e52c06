// How long a board takes from GameState::sendMessage on the game thread to newData raised by the
// real listener thread over loopback, beside a bare socket that carries the same 261 bytes one way.
// Prints median and 99th percentile in microseconds and the program's figures over the bare ones.
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "network_game.h"
#include "net_host.h"
#include "net_socket.h"
#include "silenced.h"
#include "statistics.h"

namespace {

// Far from the game's 31211/31212 and from the ports the tests use; the listener cannot take 0.
constexpr unsigned kListenerPort = 24911;
constexpr int kCells = 256;
// Type byte, length field, board: a data message as it travels.
constexpr int kMessageBytes = 1 + 4 + kCells;
constexpr int kWarmUp = 300;
constexpr int kDefaultMessages = 10000;
// A message that has not arrived by then is lost: the link has failed.
constexpr std::chrono::seconds kArrival{5};

using Clock = std::chrono::steady_clock;
using Samples = std::vector<double>;

[[noreturn]] void systemError(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + strerror(errno));
}

// Spins until ready() holds; returns when it was seen. Both paths wait this way, so that the
// polling costs the same on both sides of the ratio.
template <typename Ready>
Clock::time_point arrival(Ready ready, Clock::time_point sent, const char* path) {
    for (;;) {
        Clock::time_point now = Clock::now();
        if (ready()) {
            return now;
        }
        if (now - sent > kArrival) {
            throw std::runtime_error(std::string(path) + ": a message did not arrive within 5 s");
        }
    }
}

double micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

// The program's own path: a game's client socket into a listener thread, as between two sides.
class ProgramLink {
public:
    explicit ProgramLink(unsigned port) : sender(kCells), taken(kCells) {
        // No move check: the same empty board goes over and over again.
        listener.setup(port, kCells, 0);
        listener.open();
        listener.start(nullptr);
        socket = Net::ClientSocket(Net::Host("127.0.0.1", port));
    }
    ProgramLink(const ProgramLink&) = delete;
    ProgramLink& operator=(const ProgramLink&) = delete;
    ~ProgramLink() {
        // Stopped first, so that the closing connection is not reported as a failure.
        listener.stop();
        socket.destroy();
    }

    // One message: from the start of sendMessage to newData seen up, in microseconds.
    double once() {
        Clock::time_point sent = Clock::now();
        sender.sendMessage(socket, Games::DataMessage);
        Clock::time_point seen =
            arrival([this] { return *listener.state.newData; }, sent, "listener");
        // As the remote turn takes a board: this clears newData for the next message.
        listener.state.getData(taken.data());
        return micros(seen - sent);
    }

private:
    System::Listener listener;
    Games::GameState sender;
    Net::ClientSocket socket;
    std::vector<unsigned char> taken;
};

// The least that can carry the message: one send, a thread blocked in recv until all of it has
// come, then a flag.
class BareLink {
public:
    BareLink() {
        int server = ::socket(AF_INET, SOCK_STREAM, 0);
        if (server < 0) {
            systemError("bare socket");
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        sockaddr* a = reinterpret_cast<sockaddr*>(&address);
        if (bind(server, a, length) != 0 || listen(server, 1) != 0 ||
            getsockname(server, a, &length) != 0) {
            close(server);
            systemError("bare server");
        }
        sender = ::socket(AF_INET, SOCK_STREAM, 0);
        if (sender < 0 || connect(sender, a, length) != 0) {
            close(server);
            systemError("bare connect");
        }
        receiver = accept(server, nullptr, nullptr);
        close(server);
        if (receiver < 0) {
            systemError("bare accept");
        }
        thread = std::thread([this] { receive(); });
    }
    BareLink(const BareLink&) = delete;
    BareLink& operator=(const BareLink&) = delete;
    ~BareLink() {
        // The receiver's recv returns 0 and its thread ends.
        ::shutdown(sender, SHUT_WR);
        thread.join();
        close(sender);
        close(receiver);
    }

    double once() {
        Clock::time_point sent = Clock::now();
        for (int done = 0; done < kMessageBytes;) {
            ssize_t n = send(sender, message + done, kMessageBytes - done, MSG_NOSIGNAL);
            if (n < 0) {
                systemError("bare send");
            }
            done += n;
        }
        Clock::time_point seen = arrival([this] { return arrived.load(); }, sent, "bare");
        arrived = false;
        return micros(seen - sent);
    }

private:
    void receive() {
        char buffer[kMessageBytes];
        for (;;) {
            for (int got = 0; got < kMessageBytes;) {
                ssize_t n = recv(receiver, buffer + got, kMessageBytes - got, 0);
                if (n <= 0) {
                    return;
                }
                got += n;
            }
            arrived = true;
        }
    }

    int sender = -1;
    int receiver = -1;
    char message[kMessageBytes] = {Games::DataMessage, 0, 0, 1, 0};
    std::atomic<bool> arrived{false};
    std::thread thread;
};

struct Figures {
    double median;
    double p99;
};

Figures summarize(const Samples& s) {
    return {Bench::median(s), Bench::percentile(s, 99)};
}

// One message on each link in turn, so that both meet the machine in the same state: on a virtual
// machine the wake-up of a thread blocked in recv costs from a few to tens of microseconds,
// depending on how busy the processors have just been.
void interleave(BareLink& bare, ProgramLink& program, int messages, Samples& bareSamples,
                Samples& programSamples) {
    for (int i = 0; i < kWarmUp; i++) {
        bare.once();
        program.once();
    }
    for (int i = 0; i < messages; i++) {
        bareSamples.push_back(bare.once());
        programSamples.push_back(program.once());
    }
}

// Standard error goes to /dev/null while the links run: the sockets' trace lines are still
// formatted and written, as in the game, without flooding the terminal. The bench's own errors
// go to the real standard error again.
class QuietStderr {
public:
    QuietStderr() : saved(dup(STDERR_FILENO)) {
        int null = open("/dev/null", O_WRONLY);
        if (saved < 0 || null < 0 || dup2(null, STDERR_FILENO) < 0) {
            systemError("redirecting standard error");
        }
        close(null);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;
    ~QuietStderr() {
        dup2(saved, STDERR_FILENO);
        close(saved);
    }

private:
    int saved;
};

void printRow(const char* name, Figures f, const Figures* bare) {
    printf("  %-44s %8.1f %8.1f", name, f.median, f.p99);
    if (bare != nullptr) {
        printf("   x%.2f  x%.2f", f.median / bare->median, f.p99 / bare->p99);
    }
    printf("\n");
}

int run(int messages) {
    Samples bare, traced, silent;
    BareLink bareLink;
    {
        QuietStderr quiet;
        {
            ProgramLink program(kListenerPort);
            interleave(bareLink, program, messages, bare, traced);
        }
        // Without any trace line: what the lines themselves cost. Switched while no listener
        // thread runs; the next one starts after it.
        Bench::Silenced silenced(std::cerr);
        ProgramLink program(kListenerPort);
        interleave(bareLink, program, messages, bare, silent);
    }
    Figures b = summarize(bare);
    printf("Data message of %d bytes, one way over loopback, from the send to the flag seen up\n",
           kMessageBytes);
    printf("  (microseconds; %zu messages per program row, %zu bare, one of each in turn)\n",
           traced.size(), bare.size());
    printf("  %-44s %8s %8s   %s\n", "", "median", "p99", "over bare: median, p99");
    printRow("bare POSIX socket: send, recv, atomic flag", b, nullptr);
    printRow("sendMessage -> Listener -> newData", summarize(traced), &b);
    printRow("  the same, trace lines silenced", summarize(silent), &b);
    printf(
        "  The program's figure is the second row: its trace lines are formatted and written\n"
        "  (to /dev/null), as in the game. The third row shows what the lines cost.\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int messages = argc > 1 ? atoi(argv[1]) : kDefaultMessages;
    if (messages <= 0) {
        fprintf(stderr, "usage: %s [messages per program row, default %d]\n", argv[0],
                kDefaultMessages);
        return 2;
    }
    try {
        return run(messages);
    } catch (Net::ConnectionException& e) {
        fprintf(stderr, "latency_bench: port %u: %s\n", kListenerPort, e.message().c_str());
    } catch (System::Exception& e) {
        fprintf(stderr, "latency_bench: %s\n", e.message().c_str());
    } catch (std::exception& e) {
        fprintf(stderr, "latency_bench: %s\n", e.what());
    }
    return 1;
}
