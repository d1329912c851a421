// Windows Sockets for the tray monitor, after the project's Win32 header.
#pragma once

#include "platform/win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>
