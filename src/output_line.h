// Whole lines of output: every trace, diagnostic and error line of both threads is built apart
// and written with one call, so that lines of the game thread and of the listener thread never mix.
#pragma once

#include <iostream>
#include <sstream>
#include <string>

namespace System {

// Writes line and a line end to stream (std::cout or std::cerr) with one write, then flushes, under
// a lock that every writer of standard output and standard error shares. Any thread.
void writeLine(std::ostream& stream, const std::string& line);

// One line under construction: what is streamed into it is written whole by writeLine when the
// line goes, at the end of the full expression for a temporary:
//     System::err() << "Waitng for " << n << " bytes";
class OutputLine {
public:
    explicit OutputLine(std::ostream& stream) : stream(stream) {}
    OutputLine(const OutputLine&) = delete;
    OutputLine& operator=(const OutputLine&) = delete;
    ~OutputLine() { writeLine(stream, text.str()); }

    template <typename T>
    OutputLine& operator<<(const T& value) {
        text << value;
        return *this;
    }

private:
    std::ostream& stream;
    std::ostringstream text;
};

// A line for standard output.
inline OutputLine out() {
    return OutputLine(std::cout);
}

// A line for standard error.
inline OutputLine err() {
    return OutputLine(std::cerr);
}

}  // namespace System
