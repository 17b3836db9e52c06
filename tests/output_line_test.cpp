// Output lines written by the game thread and the listener thread at once, to standard output and
// standard error sharing one file as they do in a log: every line comes back whole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <thread>

#include "game_state.h"
#include "output_line.h"

namespace {

constexpr int kCells = 256;
constexpr int kBoards = 300;
constexpr int kTraces = 3000;

// Points standard output and standard error at one new file until the guard goes.
class BothStreamsToFile {
public:
    explicit BothStreamsToFile(const std::string& path)
        : savedOut(dup(STDOUT_FILENO)), savedErr(dup(STDERR_FILENO)) {
        std::cout.flush();
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    ~BothStreamsToFile() {
        std::cout.flush();
        fflush(stdout);
        dup2(savedOut, STDOUT_FILENO);
        dup2(savedErr, STDERR_FILENO);
        close(savedOut);
        close(savedErr);
    }

private:
    int savedOut;
    int savedErr;
};

// Whether line is head, a number, then tail, and nothing else.
bool numbered(const std::string& line, const std::string& head, const std::string& tail) {
    if (line.size() <= head.size() + tail.size() || line.compare(0, head.size(), head) != 0 ||
        line.compare(line.size() - tail.size(), tail.size(), tail) != 0) {
        return false;
    }
    std::string number = line.substr(head.size(), line.size() - head.size() - tail.size());
    return number.find_first_not_of("0123456789") == std::string::npos;
}

TEST(OutputLine, LinesOfTwoThreadsOnBothStreamsNeverMix) {
    Games::GameState state(kCells);
    unsigned char cells[kCells];
    for (int i = 0; i < kCells; i++) {
        cells[i] = static_cast<unsigned char>(i % 3);
    }
    state.setData(cells);
    std::string board = "Output copy: [";
    for (int i = 0; i < kCells; i++) {
        board += std::to_string(i % 3) + " ";
    }

    std::string path = testing::TempDir() + "output_line_test.log";
    {
        BothStreamsToFile redirect(path);
        std::thread game([&] {
            unsigned char copy[kCells];
            for (int i = 0; i < kBoards; i++) {
                state.getData(copy);
                System::out() << "Choice: " << i;
            }
        });
        std::thread listener([] {
            for (int i = 0; i < kTraces; i++) {
                System::err() << "Waitng for " << i << " bytes";
                System::err() << "[ ret: " << i << " ] ";
            }
        });
        game.join();
        listener.join();
    }

    std::map<std::string, int> kinds;
    std::ifstream log(path);
    // The open stream still reads it; a failed check below leaves nothing behind.
    std::remove(path.c_str());
    std::string line;
    while (std::getline(log, line)) {
        const char* kind = line == board                             ? "board"
                           : numbered(line, "Choice: ", "")          ? "choice"
                           : numbered(line, "Waitng for ", " bytes") ? "waiting"
                           : numbered(line, "[ ret: ", " ] ")        ? "ret"
                                                                     : nullptr;
        ASSERT_NE(kind, nullptr) << "a mixed line: " << line.substr(0, 200);
        kinds[kind]++;
    }
    EXPECT_EQ(kinds["board"], kBoards);
    EXPECT_EQ(kinds["choice"], kBoards);
    EXPECT_EQ(kinds["waiting"], kTraces);
    EXPECT_EQ(kinds["ret"], kTraces);
}

}  // namespace
