#pragma once

#include "services/ServiceStore.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

namespace norvale {

// The columns of lconfig_all, in the order the configuration record reads them.
const QStringList &configColumns();

// Gives the store its tables from the embedded schema and seed when it has
// none. A SQLite file is built under path + ".tmp" and renamed when
// complete, so a first start that is killed half-way leaves no half database
// behind; a PostgreSQL database gets them in one transaction.
bool ensureServiceDatabase(const ServiceStore &store, QString *error);

// A SQLite database made before the name columns compared without letter
// case gets their current definition, its rows kept. Nothing happens to one
// that has it, nor to a PostgreSQL database.
bool upgradeServiceDatabase(const ServiceStore &store, QString *error);

// lconfig_all holds addresses of this service, and its port can change from
// one start to the next: replace the base recorded in svc_settings by newBase
// wherever a value starts with it, leaving every other value as it is.
bool rebaseConfiguration(const ServiceStore &store, const QString &newBase, QString *error);

// Gives the store svc_changes(lserial), a number that every write to a table
// the pages read raises (by triggers, so a write from any program counts):
// while it stands still, a page made before is still the page. False when
// the store cannot have it; the pages are then made afresh every time.
bool ensureChangeCounter(const ServiceStore &store, QString *error);
// The number, read on the calling thread's connection db; -1 when unreadable.
qint64 changeSerial(const QSqlDatabase &db);

// The calling thread's read-only connection to the store, opened on first
// use and closed when the thread ends. Qt SQL connections must stay in their
// thread. reopen: closes it first, for a connection the server has dropped.
// writable: the thread's second connection, which may write (the registry cache).
QSqlDatabase threadDatabase(const ServiceStore &store, bool reopen = false, bool writable = false);

// sql prepared once on the calling thread's connection db and kept while
// that connection stays open, so that a page does not parse its statements
// again on every request. Bind, run, read, then finish() it: a statement left
// on a row holds a read open, and a SQLite writer waits for it.
QSqlQuery &keptQuery(const QSqlDatabase &db, const QString &sql);
// Drops the calling thread's kept statements, after a failure that may have
// left them unusable.
void forgetKeptQueries();

// Runs a prepared query, or sql on a fresh one. A failure is remembered for
// the calling thread until clearQueryFailure(), so that a page can tell a
// database that did not answer from one that holds no row.
bool runQuery(QSqlQuery &query);
bool runQuery(QSqlQuery &query, const QString &sql);
void clearQueryFailure();
bool queryFailed();

// A value of svc_settings, read afresh so that edits take effect at once.
QString settingValue(const QSqlDatabase &db, const QString &key, const QString &fallback = {});

// Splits an SQL script at the semicolons that end its statements; semicolons
// inside quoted text and "--" comments are left alone.
QStringList splitSqlStatements(const QString &script);

} // namespace norvale
