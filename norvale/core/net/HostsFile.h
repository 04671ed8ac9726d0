#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <memory>

namespace norvale {

// The system's hosts file as a table, so that a lookup asking it before the
// name servers does not open and read the file for every name of a long
// search. Read again once the file changed.
class HostsFile final {
public:
    // The table of the file as it is now; shared, never changed.
    static std::shared_ptr<const HostsFile> current();

    // The first IPv4 address the file lists for name, any letter case; the
    // empty text when it lists none.
    QString firstIPv4(const QByteArray &name) const;

    static HostsFile parsed(const QByteArray &text);

private:
    QHash<QByteArray, QString> m_first;  // lower-case name -> address
};

} // namespace norvale
