#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <utility>

namespace norvale {
class IpLookup;
}

namespace norvale::test {

// Everything an IP lookup reported, as one text per report ("lip …",
// "list …", "count N", "geo …|…", "end"), tagged with its generation.
class IpLookupRecord final {
public:
    explicit IpLookupRecord(IpLookup &engine);
    Q_DISABLE_COPY_MOVE(IpLookupRecord)

    QStringList of(quint64 generation) const;
    bool ended(quint64 generation) const { return of(generation).contains(QStringLiteral("end")); }
    // The context of the record's connections, for more of them.
    QObject &scope() { return m_scope; }

private:
    void add(quint64 generation, const QString &text) { m_events.append({generation, text}); }

    QObject m_scope;
    QList<std::pair<quint64, QString>> m_events;
};

} // namespace norvale::test
