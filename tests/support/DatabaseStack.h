#pragma once

#include "norvale/core/data/ServerDatabase.h"
#include "tests/support/RecordingPlatform.h"

#include <memory>

namespace norvale::test {

// A ServerDatabase with the platform it reports to, kept alive for as long
// as any worker still holds the database.
struct DatabaseStack {
    explicit DatabaseStack(const QString &serviceUrl) : database(platform, serviceUrl) {}
    RecordingPlatform platform;
    ServerDatabase database;

    // The database, shared the way engines and windows hold it.
    static std::shared_ptr<ServerDatabase> shared(const std::shared_ptr<DatabaseStack> &stack)
    {
        return {stack, &stack->database};
    }
};

} // namespace norvale::test
