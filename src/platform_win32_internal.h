// What the Windows platform sources share: a socket's Winsock handle and whether it was made
// non-blocking, and the system's wide texts in UTF-8.
#pragma once

#include "net_stdafx.h"

#include <windows.h>

#include <string>

namespace Platform {

inline SOCKET handle(int socket) {
    // -1 becomes INVALID_SOCKET.
    return static_cast<SOCKET>(socket);
}

// Whether setBlocking made the socket non-blocking (and nothing has made it blocking since).
bool madeNonBlocking(int socket);

inline std::string toUtf8(const wchar_t* text, int length) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return "";
    }
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, &utf8[0], size, nullptr, nullptr);
    return utf8;
}

}  // namespace Platform
