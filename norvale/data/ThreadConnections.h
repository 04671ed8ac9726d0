#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <functional>

namespace norvale {

// Qt SQL connections belong to the thread that opened them. Each thread keeps
// one open connection per connection text, reuses it, and closes and removes
// them all when the thread ends.

// This thread's open connection for the text, opened on first use. An
// invalid database and the reason (the layer's own message, never the
// password) when it cannot be opened; a failed connection is not kept.
// `reused` tells whether the connection was already open.
QSqlDatabase threadConnection(const QString &connectionText, QString *error, bool *reused = nullptr);

// Forgets this thread's connection for the text (after a failed statement,
// so that the next use starts from a fresh connection).
void dropThreadConnection(const QString &connectionText);

// Prepares the statement on the query's connection, binds the values to its
// "?" placeholders in order and runs it, forward-only. False with the
// layer's message when it fails.
bool runStatement(QSqlQuery &query, const QString &statement, const QVariantList &params,
                  QString *error);

// Runs work on this thread's connection for the text. When it fails on a
// connection kept from earlier, the server may have dropped that one, so the
// work runs once more on a fresh connection. work gives false with the
// layer's message when it fails; the connection it failed on is not kept.
bool withThreadConnection(const QString &connectionText, QString *error,
                          const std::function<bool(QSqlDatabase &db, QString *error)> &work);

// How many connections this thread holds open.
int threadConnectionCount();

} // namespace norvale
