#pragma once

#include <QJsonArray>
#include <QString>

namespace norvale::bench {

// norvale-cli's search of one keyword under "全部" (and the related names)
// against a data service, as a process of its own: its wall time, from start
// to exit, and the rows of its JSON.
struct CliSearch {
    bool ok = false;       // ran and exited 0 with JSON
    QString problem;
    double seconds = 0;
    QJsonArray rows;
};
CliSearch runCliSearch(const QString &dataService, const QString &keyword, bool related);

} // namespace norvale::bench
