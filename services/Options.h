#pragma once

#include "services/registry/Registries.h"

#include <QString>
#include <QStringList>

namespace norvale {

// What the command line asks of norvale-services.
struct ServiceOptions {
    int port = 8858;            // 0: any free port
    QString databasePath;       // a file, or a postgresql:// address; empty: the per-user default
    int delayMs = 0;            // added before every answer
    QString delayPath;          // when set, only paths starting with it are delayed
    QString host = QStringLiteral("127.0.0.1");
    int requestDeadlineSeconds = 10;    // a request must arrive whole within this
    int connectionsPerAddress = 256;    // open connections from one client address
    QString geoDatabase;                // a MaxMind DB file for the geolocation page; empty: svc_geo alone
    RegistryOptions registries;         // the registries behind the status and whois pages
    bool help = false;
};

// Parses the arguments (without the program name). False with a message in
// *error when they make no sense.
bool parseServiceOptions(const QStringList &arguments, ServiceOptions *options, QString *error);

QString serviceUsage();

// ~/.local/share/norvale-services/norvale-services.db, or ./norvale-services.db
// when the system names no data folder.
QString defaultDatabasePath();

// Where the bootstrap fetched from its address is kept between starts: beside
// the default database.
QString keptBootstrapPath();

} // namespace norvale
