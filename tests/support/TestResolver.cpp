#include "tests/support/TestResolver.h"

#include <QFile>
#include <QRegularExpression>

namespace norvale::test {

bool TestResolver::start()
{
    m_ready = false;
    m_broken = false;
    const QString unavailable = qEnvironmentVariable("NORVALE_TEST_DNS_UNAVAILABLE");
    if (!unavailable.isEmpty()) {
        m_reason = QStringLiteral("the system resolver cannot be pointed at a test DNS server here (")
                   + unavailable + u')';
        return false;
    }
    const QString address = qEnvironmentVariable("NORVALE_TEST_DNS_ADDRESS");
    if (address.isEmpty()) {
        m_reason = QStringLiteral("resolver tests run only under tests/support/with-test-resolver");
        return false;
    }

    // Never let a test's queries reach the machine's real name servers.
    QFile resolvConf(QStringLiteral("/etc/resolv.conf"));
    const QString expected = QStringLiteral("^nameserver\\s+%1\\s*$").arg(QRegularExpression::escape(address));
    if (!resolvConf.open(QIODevice::ReadOnly)
        || !QString::fromLatin1(resolvConf.readAll())
                .contains(QRegularExpression(expected, QRegularExpression::MultilineOption))) {
        m_broken = true;
        m_reason = QStringLiteral("/etc/resolv.conf does not name the test server ") + address;
        return false;
    }

    QString error;
    if (!m_server.start(address, 53, &error)) {
        m_broken = true;
        m_reason = QStringLiteral("test DNS server: ") + error;
        return false;
    }
    m_ready = true;
    return true;
}

} // namespace norvale::test
