#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace norvale {

// The columns of lconfig_all, in the order the configuration record reads them.
const QStringList &configColumns();

// Creates the database at path from the embedded schema and seed when no file
// is there. It is built under path + ".tmp" and renamed when complete, so a
// first start that is killed half-way leaves no half database behind.
bool ensureServiceDatabase(const QString &path, QString *error);

// A database made before the name columns compared without letter case gets
// their current definition, its rows kept. Nothing happens to one that has it.
bool upgradeServiceDatabase(const QString &path, QString *error);

// lconfig_all holds addresses of this service, and its port can change from
// one start to the next: replace the base recorded in svc_settings by newBase
// wherever a value starts with it, leaving every other value as it is.
bool rebaseConfiguration(const QString &path, const QString &newBase, QString *error);

// The calling thread's read-only connection to path, opened on first use and
// closed when the thread ends. Qt SQL connections must stay in their thread.
QSqlDatabase threadDatabase(const QString &path);

// A value of svc_settings, read afresh so that edits take effect at once.
QString settingValue(const QSqlDatabase &db, const QString &key, const QString &fallback = {});

// Splits an SQL script at the semicolons that end its statements; semicolons
// inside quoted text and "--" comments are left alone.
QStringList splitSqlStatements(const QString &script);

} // namespace norvale
