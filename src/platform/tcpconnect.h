// A TCP connect that gives up after a time-out, for command-line tools that
// must not hang for minutes on a host that drops the handshake.
#pragma once

#include <cstdint>
#include <string>

#include "platform/net.h"

namespace tv::platform {

// Creates `socket` and connects it to dotted:port within `timeoutMs`.
// The socket is left blocking.  False on a bad address, refusal, error or
// time-out; `error` then gets a short reason when given.
bool ConnectWithTimeout(TcpSocket& socket, const std::string& dottedAddress, uint16_t port,
                        int timeoutMs, std::string* error = nullptr);

}  // namespace tv::platform
