#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace norvale {

// Qt SQL connections belong to the thread that opened them, and a driver
// call cannot be interrupted from outside. So each calling thread keeps, per
// connection text, one connection that lives on a thread of its own: the
// caller hands it a piece of work and waits for it, at most for the time
// limit. A connection that overruns is given up (it ends on its own once the
// driver returns) and the next call opens a fresh one.

// How long one statement may hold its caller: the build's
// NORVALE_STATEMENT_TIME_LIMIT unless set otherwise (tests use less). The
// driver's own limit, where it has one, is set a little below, so that it
// normally answers first and the connection stays usable.
std::chrono::milliseconds statementTimeLimit();
void setStatementTimeLimit(std::chrono::milliseconds limit);

namespace detail {
using ConnectionWork = std::function<bool(QSqlDatabase &db, QString *error)>;
bool runOnThreadConnection(const QString &connectionText, QString *error, ConnectionWork work);
} // namespace detail

// Runs work on this thread's connection for the text and gives its result,
// or nullopt with the reason in *error (the database layer's own message,
// never the password). work runs on the connection's thread and may still be
// running after a give-up, so it must own everything it touches: it captures
// by value and hands its result back only through its return value. When it
// fails because the connection was lost (the driver says so, or the SQLite
// file was replaced), it runs once more on a fresh connection; a statement
// the server rejects fails once and the connection is kept.
template <typename Result>
std::optional<Result> onThreadConnection(const QString &connectionText, QString *error,
                                         std::function<std::optional<Result>(QSqlDatabase &db, QString *error)> work)
{
    auto result = std::make_shared<std::optional<Result>>();
    const bool done = detail::runOnThreadConnection(
        connectionText, error, [result, work = std::move(work)](QSqlDatabase &db, QString *why) {
            *result = work(db, why);
            return result->has_value();
        });
    if (!done)
        return std::nullopt;
    return std::move(*result);
}

// Prepares the statement on the query's connection, gives it the driver's
// own time limit where the driver has one, binds the values to its "?"
// placeholders in order and runs it, forward-only. False with the layer's
// message when it fails.
bool runStatement(QSqlQuery &query, const QString &statement, const QVariantList &params,
                  QString *error);

// How many connections this thread holds.
int threadConnectionCount();

} // namespace norvale
