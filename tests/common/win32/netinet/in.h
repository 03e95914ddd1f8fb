// sockaddr_in and the byte-order calls come with Winsock (see sys/socket.h).
#pragma once

#include <sys/socket.h>
