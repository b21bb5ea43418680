#pragma once

namespace kestrum {

// What the programs tell the user about the system they run on: its name in the About box,
// and in the command-line help how a port is named and which one is taken when none is.
// The one place where these texts differ between the systems we build for.
#if defined(_WIN32)
inline constexpr const char* kPlatformName = "Windows";
// The desktop program's help lines for -p, each ending in "\r\n".
inline constexpr const char* kPortOptionHelp =
    "-p  port\t   name of used PC port (COM1, COM2, ...) or number (1,2, ...);\r\n"
    "\t   default: COM1.\r\n";
// kestrum-cli's help lines for -p, in its own layout.
inline constexpr const char* kCliPortOptionHelp =
    "  -p port     serial port: COM1, COM2, ..., a number (1, 2, ...) or rfc2217://host:port;\n"
    "              default: the first port found; for load repeated, or a list\n"
    "              (-p COM3,COM4), for several\n";
#else
inline constexpr const char* kPlatformName = "Linux";
inline constexpr const char* kPortOptionHelp =
    "-p  port\t   name of used PC port: a device path (/dev/ttyUSB0, ...),\r\n"
    "\t   a name under /dev (ttyUSB0, ...) or rfc2217://host:port;\r\n"
    "\t   default: the first port found.\r\n";
inline constexpr const char* kCliPortOptionHelp =
    "  -p port     serial port: a device path (/dev/ttyUSB0), a name under /dev (ttyUSB0)\n"
    "              or rfc2217://host:port; default: the first port found; for load\n"
    "              repeated, or a list (-p /dev/ttyUSB0,/dev/ttyUSB1), for several\n";
#endif

}  // namespace kestrum
