#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace norvale {

struct EchoOutcome {
    bool permitted = false;   // false: this process may open no ICMP socket, nothing was sent
    int status = 0;           // an echostatus value
    int roundTripMs = 0;      // set on success
};

// Sends one ICMP echo request carrying payload to address (network byte
// order) and waits up to timeoutMs for its reply, skipping packets that
// belong to other echoes. Uses a raw ICMP socket, or an unprivileged ICMP
// datagram socket where the system allows one (net.ipv4.ping_group_range).
// Thread-safe: every call has its own socket.
EchoOutcome sendIcmpEcho(quint32 address, const QByteArray &payload, int timeoutMs);

} // namespace norvale
