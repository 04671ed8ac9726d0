#pragma once

#include "services/ServiceStore.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace norvale {

// `import KIND FILE` or `export TABLE FILE` on the command line: the
// operator's prices, filings and registered names in and out as CSV.
struct DataCommand {
    bool import = true;
    QString table;          // the table's own name: ldomainprice, ldomainlist or svc_registered
    QString file;
    bool replace = false;   // import: the file's rows become the table's; else merged into it
};

// Takes a data command out of arguments (the words import or export, the
// table and the file, and --replace or --merge), leaving the options for
// parseServiceOptions. *command stays empty when there is none. False with
// a message when the words make no command.
bool takeDataCommand(QStringList *arguments, std::optional<DataCommand> *command, QString *error);

QString dataCommandUsage();

// One CSV record: its fields and the line it starts on.
struct CsvRecord {
    int line = 0;
    QStringList fields;
};

// Parses CSV text (RFC 4180: quoted fields may hold commas, quotes doubled,
// and line ends; CRLF or LF) in UTF-8, or in GBK where it is not valid
// UTF-8; a byte-order mark is skipped. Empty lines are skipped. False with
// the line and the reason when the bytes are no such text.
bool parseCsv(const QByteArray &bytes, QList<CsvRecord> *records, QString *error);

// Reads FILE, checks every row, and applies them in one transaction; or
// writes the table to FILE. False with the reason (for a refused file, the
// line and what is wrong on it); *done says what was done.
bool runDataCommand(const ServiceStore &store, const DataCommand &command, QString *done, QString *error);

} // namespace norvale
