#include "tests/support/SearchWorld.h"

#include "tests/support/TestSql.h"

namespace norvale::test {

QStringList phaseOneDomains(const QString &keyword)
{
    QStringList out;
    for (const auto &[kind, extension] : SearchPriceRows)
        out << keyword + QLatin1StringView(extension);
    return out;
}

bool seedSearchWorld(ServicesFixture &world)
{
    TestDnsServer &dns = world.dns();
    dns.addRecord(QStringLiteral("example.com"), {QStringLiteral("93.184.216.34")});
    dns.addRecord(QStringLiteral("example.info"), {QStringLiteral("10.0.0.5")});
    dns.addRecord(QStringLiteral("example.de"), {QStringLiteral("10.0.0.6")});
    dns.addRecord(QStringLiteral("exampleshop.cn"), {QStringLiteral("10.0.0.7")});
    // A registry that answers every .tk name; example.tk sits in the same /24.
    dns.addWildcard(QStringLiteral(".tk"), QStringLiteral("5.6.7.8"));
    dns.addRecord(QStringLiteral("example.tk"), {QStringLiteral("5.6.7.77")});

    return fillDatabase(world.services.databasePath(), [](QSqlDatabase &db) {
        bool ok = execSql(db, QStringLiteral("delete from ldomainprice")) && execSql(db, QStringLiteral("delete from ldomainlist"))
                  && execSql(db, QStringLiteral("delete from svc_registered"))
                  && execSql(db, QStringLiteral("insert into svc_registered values ('example.net')"));
        for (const auto &[kind, extension] : SearchPriceRows) {
            ok = ok && execSql(db, QStringLiteral("insert into ldomainprice values (?, ?, ?)"),
                               {QString::fromUtf8(kind), QString::fromUtf8(extension), QString::number(10 + qstrlen(extension))});
        }
        const char *const listed[][3] = {
            {"example", ".com", "京ICP备123号"},  {"example", ".org", "浙ICP备9号"},
            {"example", ".de", "-"},              {"myexample", ".com", "沪ICP备1号"},
            {"exampleshop", ".cn", ""},           {"examplebiz", ".com.cn", "粤ICP备2号"},
            {"50%off", ".net", "苏ICP备3号"},
        };
        for (const auto &row : listed) {
            const QString name = QString::fromUtf8(row[0]), extension = QString::fromUtf8(row[1]);
            ok = ok && execSql(db, QStringLiteral("insert into ldomainlist (lname, lextend, lallname, lbackweb) values (?, ?, ?, ?)"),
                               {name, extension, QString(name + extension), QString::fromUtf8(row[2])});
        }
        return ok;
    });
}

} // namespace norvale::test
