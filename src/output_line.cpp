// The one lock and the one write behind every line of output.
#include "output_line.h"

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <mutex>

#include "platform.h"

namespace System {

namespace {
// Standard output and standard error often end in the same file (a log, a terminal): one lock for
// both keeps their lines whole there too.
std::mutex& outputLock() {
    static std::mutex lock;
    return lock;
}

// The standard streams' own buffers, as the library set them up (<iostream> above has made the
// streams before these are read). A stream whose buffer has been swapped (silenced, captured)
// is written through that buffer instead.
std::streambuf* const kOutBuffer = std::cout.rdbuf();
std::streambuf* const kErrBuffer = std::cerr.rdbuf();

// The C stream behind a standard stream that still writes through its own buffer, or null.
FILE* cStreamOf(std::ostream& stream) {
    if (&stream == &std::cout && stream.rdbuf() == kOutBuffer) {
        return stdout;
    }
    if (&stream == &std::cerr && stream.rdbuf() == kErrBuffer) {
        return stderr;
    }
    return nullptr;
}

// Writes all of text to fd, going on after a signal or a partial write; a failure drops the rest,
// as a stream would.
void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        long ret = Platform::writeSome(fd, text.data() + done, text.size() - done);
        if (ret < 0 && errno == EINTR) {
            continue;
        }
        if (ret <= 0) {
            return;
        }
        done += static_cast<size_t>(ret);
    }
}
}  // namespace

void writeLine(std::ostream& stream, const std::string& line) {
    std::string whole = line;
    whole += '\n';
    std::lock_guard<std::mutex> hold(outputLock());
    if (FILE* c = cStreamOf(stream)) {
        // Straight to the descriptor: the standard streams pass each piece through the C library's
        // own locking and flushing, which cost more than the line itself on the listener's path.
        // Whatever standard output still buffers goes first, so the order stays as written;
        // standard error buffers nothing.
        if (c == stdout) {
            fflush(c);
        }
        writeAll(fileno(c), whole);
        return;
    }
    stream.write(whole.data(), static_cast<std::streamsize>(whole.size()));
    stream.flush();
}

}  // namespace System
