// Silencing a standard stream for a scope: the benchmarks keep the program's chatter out of their
// figures. Switch only while no other thread writes to the stream.
#pragma once

#include <ostream>

namespace Bench {

// The stream has no buffer (its writes are dropped) until the guard goes.
class Silenced {
public:
    explicit Silenced(std::ostream& stream) : stream(stream), buffer(stream.rdbuf(nullptr)) {}
    Silenced(const Silenced&) = delete;
    Silenced& operator=(const Silenced&) = delete;
    // rdbuf() also clears the bad bit that the dropped writes have set.
    ~Silenced() { stream.rdbuf(buffer); }

private:
    std::ostream& stream;
    std::streambuf* buffer;
};

}  // namespace Bench
