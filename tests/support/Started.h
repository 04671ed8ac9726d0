#pragma once

#include <QString>
#include <QTest>

// In a test function: starts a server of the tests' own (anything with
// start(QString *why)), or fails the test with the reason it gave.
#define VERIFY_STARTED(server)                             \
    do {                                                   \
        QString why_;                                      \
        QVERIFY2((server).start(&why_), qPrintable(why_)); \
    } while (false)
