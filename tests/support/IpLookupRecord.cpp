#include "tests/support/IpLookupRecord.h"

#include "norvale/core/lookup/IpLookup.h"

namespace norvale::test {

IpLookupRecord::IpLookupRecord(IpLookup &engine)
{
    QObject::connect(&engine, &IpLookup::addressShown, &m_scope,
                     [this](quint64 g, const QString &text) { add(g, u"lip " % text); });
    QObject::connect(&engine, &IpLookup::sharedDomains, &m_scope, [this](quint64 g, const QStringList &names) {
        for (const QString &name : names)
            add(g, u"list " % name);
    });
    QObject::connect(&engine, &IpLookup::counted, &m_scope,
                     [this](quint64 g, int n, bool more) { add(g, u"count " % QString::number(n) % (more ? u"+" : u"")); });
    QObject::connect(&engine, &IpLookup::located, &m_scope,
                     [this](quint64 g, const QStringList &v) { add(g, u"geo " % v.join(u'|')); });
    QObject::connect(&engine, &IpLookup::finished, &m_scope, [this](quint64 g) { add(g, QStringLiteral("end")); });
}

QStringList IpLookupRecord::of(quint64 generation) const
{
    QStringList out;
    for (const auto &[g, text] : m_events) {
        if (g == generation)
            out << text;
    }
    return out;
}

} // namespace norvale::test
