// The platform's socket declarations, gathered for the network modules so that none needs
// platform conditionals of its own: BSD sockets, or Winsock on Windows. What differs beyond the
// headers is behind platform.h.
#pragma once

#ifdef _WIN32
// Without the parts of windows.h that clash with the graphics library (GDI's BITMAP) or with the
// standard library (the min and max macros).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef NOGDI
#define NOGDI
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdint>
#include <cstring>
