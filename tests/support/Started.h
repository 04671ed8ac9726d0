#pragma once

#include <QString>
#include <QTest>

namespace norvale::test {

// For the start() of a server of the tests' own: writes why to *error when
// the caller asked for it, and returns false.
inline bool failed(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

} // namespace norvale::test

// In a test function: starts a server of the tests' own (anything with
// start(QString *why)), or fails the test with the reason it gave.
#define VERIFY_STARTED(server)                             \
    do {                                                   \
        QString why_;                                      \
        QVERIFY2((server).start(&why_), qPrintable(why_)); \
    } while (false)
