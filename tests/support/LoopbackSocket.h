#pragma once

namespace norvale::test {

// A TCP socket listening on a free loopback port, whose number goes to *port;
// -1 when none could be had.
int listenOnLoopback(int *port);

// A loopback port nobody holds right now, for a server a test starts.
int freeLoopbackPort();

// A TCP connection to port on loopback, or -1.
int connectToLoopback(int port);

} // namespace norvale::test
