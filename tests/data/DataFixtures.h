#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>

namespace norvale::test {

class ServicesProcess;

// Runs statements, each with its bound values, on a writable connection of
// the test's own, closed and removed when done, so that only the code under
// test holds connections. False with the reason on the first failure.
struct Statement {
    QString sql;
    QVariantList params;
};
bool execWritable(const QString &path, const QList<Statement> &statements, QString *error = nullptr);

QString sqliteText(const QString &path);

// Connections the code under test holds, in every thread.
int heldConnections();

// How often the service has answered a path, from its own counters.
int requestCount(const ServicesProcess &services, const QString &path);

// Changes one of the service's settings; it reads them on every request.
bool setSetting(const ServicesProcess &services, const QString &key, const QString &value);

// The connection text the service hands out with its seeded settings.
QString servedText(const ServicesProcess &services, const QString &provider = QStringLiteral("provider"));

} // namespace norvale::test
