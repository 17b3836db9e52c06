// The one lock and the one write behind every line of output.
#include "output_line.h"

#include <iostream>
#include <mutex>

namespace System {

namespace {
// Standard output and standard error often end in the same file (a log, a terminal): one lock for
// both keeps their lines whole there too.
std::mutex& outputLock() {
    static std::mutex lock;
    return lock;
}
}  // namespace

void writeLine(std::ostream& stream, const std::string& line) {
    std::string whole = line;
    whole += '\n';
    std::lock_guard<std::mutex> hold(outputLock());
    stream.write(whole.data(), static_cast<std::streamsize>(whole.size()));
    stream.flush();
}

}  // namespace System
