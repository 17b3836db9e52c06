// The discovery datagrams: magic, version, kind, token, hosting number, then the nick with its
// length in front, zeros to the end.
#include "net_discovery_datagram.h"

#include <cstring>
#include <random>

namespace Net {

namespace {
const unsigned char kMagic[4] = {'5', 'i', 'a', 'R'};
constexpr unsigned char kVersion = 1;
constexpr size_t kVersionAt = 4;
constexpr size_t kKindAt = 5;
constexpr size_t kTokenAt = 6;
constexpr size_t kHostingAt = 10;
constexpr size_t kNickLengthAt = 14;
constexpr size_t kNickAt = 15;
static_assert(kNickAt + kListedNickLength <= kDatagramSize, "the nick must fit");
const char* const kUnnamed = "Master";

void put32(unsigned char* at, uint32_t value) {
    at[0] = static_cast<unsigned char>(value >> 24);
    at[1] = static_cast<unsigned char>(value >> 16);
    at[2] = static_cast<unsigned char>(value >> 8);
    at[3] = static_cast<unsigned char>(value);
}

uint32_t get32(const unsigned char* at) {
    return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 |
           static_cast<uint32_t>(at[2]) << 8 | at[3];
}

bool printable(unsigned char c) {
    return c >= ' ' && c <= '~';
}

// The nick as a datagram carries it: blanks alone stay, so that what parse() takes is built again
// byte for byte.
std::string sentNick(const std::string& nick) {
    std::string shown;
    for (char c : nick) {
        if (printable(static_cast<unsigned char>(c)) && shown.size() < kListedNickLength) {
            shown += c;
        }
    }
    return shown.empty() ? kUnnamed : shown;
}
}  // namespace

std::string listedNick(const std::string& nick) {
    std::string shown = sentNick(nick);
    // Blanks alone would make a row that shows nothing to choose.
    return shown.find_first_not_of(' ') == std::string::npos ? kUnnamed : shown;
}

uint32_t randomNumber() {
    static std::random_device device;
    uint32_t n = 0;
    while (n == 0) {
        n = device();
    }
    return n;
}

std::vector<unsigned char> build(const Datagram& datagram) {
    std::vector<unsigned char> bytes(kDatagramSize, 0);
    memcpy(bytes.data(), kMagic, sizeof kMagic);
    bytes[kVersionAt] = kVersion;
    bytes[kKindAt] = datagram.kind;
    put32(&bytes[kTokenAt], datagram.token);
    put32(&bytes[kHostingAt], datagram.hosting);
    if (datagram.kind == Datagram::kReply || datagram.kind == Datagram::kAnnouncement) {
        std::string nick = sentNick(datagram.nick);
        bytes[kNickLengthAt] = static_cast<unsigned char>(nick.size());
        memcpy(&bytes[kNickAt], nick.data(), nick.size());
    }
    return bytes;
}

bool parse(const unsigned char* bytes, size_t size, Datagram& datagram) {
    if (size != kDatagramSize || memcmp(bytes, kMagic, sizeof kMagic) != 0 ||
        bytes[kVersionAt] != kVersion) {
        return false;
    }
    unsigned char kind = bytes[kKindAt];
    if (kind < Datagram::kQuery || kind > Datagram::kGone) {
        return false;
    }
    datagram.kind = static_cast<Datagram::Kind>(kind);
    datagram.token = get32(&bytes[kTokenAt]);
    datagram.hosting = get32(&bytes[kHostingAt]);
    size_t length = bytes[kNickLengthAt];
    bool named = kind == Datagram::kReply || kind == Datagram::kAnnouncement;
    if (length > kListedNickLength || named != (length > 0)) {
        return false;
    }
    // Only a query and its reply belong to one search; a token elsewhere is not ours to read.
    bool searched = kind == Datagram::kQuery || kind == Datagram::kReply;
    if ((kind == Datagram::kQuery) != (datagram.hosting == 0) ||
        (kind == Datagram::kQuery && datagram.token == 0) || (!searched && datagram.token != 0)) {
        return false;
    }
    for (size_t i = kNickAt; i < kDatagramSize; i++) {
        bool inNick = i < kNickAt + length;
        if (inNick ? !printable(bytes[i]) : bytes[i] != 0) {
            return false;
        }
    }
    datagram.nick.assign(reinterpret_cast<const char*>(&bytes[kNickAt]), length);
    return true;
}

}  // namespace Net
