// The platform's socket declarations, gathered for the two network modules so that neither needs
// platform conditionals of its own. This platform has BSD sockets and needs no start-up call.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
