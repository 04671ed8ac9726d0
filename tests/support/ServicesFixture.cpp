#include "tests/support/ServicesFixture.h"

#include <QTest>

namespace norvale::test {

// QTest::qVerify, not QVERIFY, so that the caller learns of a failure.
bool ServicesFixture::start()
{
    const bool resolverSound = resolver.start() || !resolver.broken();
    if (!QTest::qVerify(resolverSound, "resolver.start()", qPrintable(resolver.reason()), __FILE__, __LINE__))
        return false;
    QString error;
    if (!QTest::qVerify(services.start(&error), "services.start()", qPrintable(error), __FILE__, __LINE__))
        return false;
    stack = std::make_shared<DatabaseStack>(services.dataServiceUrl());
    return true;
}

} // namespace norvale::test
