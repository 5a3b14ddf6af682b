// One ICMP echo request and its reply: the reachability probe a scale client
// runs before it opens a TCP connection to a scale.
#pragma once

#include <cstddef>
#include <string>

namespace tv::platform {

enum class EchoOutcome { Reply, NoReply, Unavailable };

// Sends one ICMP echo request with `payloadSize` zero bytes to `dotted` and
// waits up to `timeoutMs` for the echo reply; on Reply, `replyFrom` is the
// replying address in dotted text.  Unavailable means no ICMP socket could be
// opened (no privilege); an address that does not parse gives NoReply.
EchoOutcome IcmpEcho(const std::string& dotted, size_t payloadSize, int timeoutMs,
                     std::string& replyFrom);

// True when the next echo tries a raw socket first, because the last ICMP
// socket the process could open was raw.  For diagnostics and tests.
bool IcmpPrefersRawSocket();

}  // namespace tv::platform
