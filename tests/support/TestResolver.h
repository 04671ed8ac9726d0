#pragma once

#include "tests/support/TestDnsServer.h"

#include <QString>

namespace norvale::test {

// The test side of tests/support/with-test-resolver: starts a TestDnsServer
// where the wrapper pointed the system resolver, or says why resolver tests
// must skip here.
class TestResolver final {
public:
    TestResolver() = default;
    TestResolver(const TestResolver &) = delete;
    TestResolver &operator=(const TestResolver &) = delete;

    // True when the system resolver now asks server(). Otherwise reason()
    // says why, and broken() tells a set-up fault (fail) from a machine that
    // does not permit the set-up (skip).
    bool start();
    bool ready() const { return m_ready; }
    bool broken() const { return m_broken; }
    QString reason() const { return m_reason; }

    TestDnsServer &server() { return m_server; }

    // The wrapper gave the test a network namespace of its own, so it may
    // change the network's settings.
    static bool privateNetwork() { return qEnvironmentVariable("NORVALE_TEST_NETNS") == QLatin1StringView("1"); }

private:
    TestDnsServer m_server;
    QString m_reason;
    bool m_ready = false;
    bool m_broken = false;
};

} // namespace norvale::test
