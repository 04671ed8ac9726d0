#pragma once

#include "norvale/core/data/fdata.h"

#include <QMutex>
#include <QString>
#include <QVariantList>

#include <optional>

namespace norvale {

// What one single-value query gives its caller.
struct QueryResult {
    bool ok = false;        // the connection opened and, when run, the statement succeeded
    bool ran = false;       // the statement was run (it must be longer than 5 characters)
    qint32 rowcount = 0;    // rows returned
    QString firstvalue;     // first column of the first row; "" for no row or NULL
    QString error;          // the database layer's own message when !ok
};

// queryfirst's work on a given connection text, for the code and tests that
// already hold one. Thread-safe.
QueryResult queryFirstOn(const QString &connectionText, const QString &sqltext,
                         const QVariantList &params = {});

// The shared access layer: the one connection text in force (`connstr`),
// found through the data-address holder, and single-value queries. Made once
// and passed to whoever needs it; every call may come from any thread.
class ServerDatabase final {
public:
    explicit ServerDatabase(Platform &platform, QString serviceAddress = fdata::defaultServiceAddress(),
                            QString adminMail = fdata::defaultAdminMail());
    Q_DISABLE_COPY_MOVE(ServerDatabase)

    // connstr = the holder's text; when that lacks the word "provider" (in
    // any letter case) the service is asked first (the new text is not
    // tested again). Gives the text now in force, or nullopt when discovery failed
    // and the program is ending.
    std::optional<QString> getconnstr();

    QString connstr() const;
    fdata &dataHolder() { return m_fdata; }

    // Runs one SELECT with "?" placeholders bound to params, on this thread's
    // connection for connstr, and gives the row count and the first value.
    // A statement of 5 characters or fewer is not run: the result is ok with
    // ran == false, no rows and no value (the connection is still opened, so
    // a bad connection text is still reported).
    QueryResult queryfirst(const QString &sqltext, const QVariantList &params = {});

private:
    fdata m_fdata;
    QMutex m_discoveryMutex;  // one getconnstr at a time; held while the service answers
    mutable QMutex m_mutex;   // guards m_connstr only, and only for a copy
    QString m_connstr;
};

} // namespace norvale
