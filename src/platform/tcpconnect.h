// A TCP connect that gives up after a time-out, for command-line tools that
// must not hang for minutes on a host that drops the handshake.
#pragma once

#include <cstdint>
#include <string>

#include "platform/net.h"
#include "platform/status.h"

namespace tv::platform {

// Creates `socket` and connects it to dotted:port within `timeoutMs`.
// The socket is left blocking.  Fails on a bad address, refusal, error or
// time-out, with a short reason ("timed out") that names neither.
Status ConnectWithTimeout(TcpSocket& socket, const std::string& dottedAddress, uint16_t port,
                          int timeoutMs);

}  // namespace tv::platform
