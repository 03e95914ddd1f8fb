// The BSD socket calls the tests' loopback servers make, on Winsock. A socket is a SOCKET, not
// an int: the tests hold it as decltype(socket(...)), and close() of one is closesocket().
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/win32/win32.h"

#undef WM_CREATE  // the control's own constant

inline const bool kdxWinsockStarted = [] {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}();

inline constexpr int SHUT_RDWR = SD_BOTH;
inline constexpr int SOCK_CLOEXEC = 0;  // no handle is inherited by a child here
inline constexpr int MSG_NOSIGNAL = 0;  // Winsock raises no signal

inline SOCKET accept4(SOCKET fd, sockaddr* address, int* length, int) { return accept(fd, address, length); }
inline int close(SOCKET fd) { return closesocket(fd); }
