#pragma once

#include "norvale/core/lookup/LookupBackend.h"
#include "norvale/core/search/SearchBackend.h"
#include "tests/support/DatabaseStack.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestResolver.h"

#include <memory>

namespace norvale::test {

// The opening most suites share: the test resolver, then norvale-services,
// then the database those services announce, as engines and windows hold it.
class ServicesFixture final {
public:
    explicit ServicesFixture(ServicesProcess::Options options = {}) : services(std::move(options)) {}
    Q_DISABLE_COPY_MOVE(ServicesFixture)

    // For initTestCase: starts all three. False after a set-up fault, which
    // has failed the test. Where the machine does not permit the resolver,
    // resolverReady() is false and reason() says why; the rest starts all
    // the same.
    bool start();
    bool resolverReady() const { return resolver.ready(); }
    QString reason() const { return resolver.reason(); }

    TestDnsServer &dns() { return resolver.server(); }
    std::shared_ptr<ServerDatabase> database() const { return DatabaseStack::shared(stack); }
    LookupBackend lookups() const { return makeServerLookupBackend(database()); }
    // The search's real parts, asking the status page at statusBase.
    SearchBackend searches(const QString &statusBase) const
    {
        return makeServerBackend(database(), [statusBase] { return statusBase; });
    }
    QString page(const char *path) const { return services.baseUrl() + QLatin1StringView(path); }

    TestResolver resolver;
    ServicesProcess services;
    std::shared_ptr<DatabaseStack> stack;
};

} // namespace norvale::test

// In a test function: skips it where the test resolver is not running.
#define REQUIRE_TEST_RESOLVER(fixture) \
    if (!(fixture).resolverReady())    \
    QSKIP(qPrintable((fixture).reason()))
