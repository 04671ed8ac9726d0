#include "norvale/cli/CliRun.h"

#include "norvale/core/config/ConfigLoad.h"
#include "norvale/core/config/Configuration.h"
#include "norvale/cli/CliOutput.h"
#include "norvale/cli/ConsolePlatform.h"
#include "norvale/core/data/DataServiceAddress.h"
#include "norvale/core/data/ServerDatabase.h"

namespace norvale {

namespace {

// The database with the platform it reports to, kept alive for as long as
// any worker still holds the database.
struct DatabaseWithPlatform {
    explicit DatabaseWithPlatform(const QString &serviceAddress) : database(platform, serviceAddress) {}
    ConsolePlatform platform;
    ServerDatabase database;
};

} // namespace

int runCli(const CliOptions &options)
{
    if (options.command == CliOptions::Command::Help) {
        cli::writeOut(cliUsage().toUtf8());
        return 0;
    }
    if (options.command == CliOptions::Command::Generate)
        return cli::runGenerate(options);
    // Usage is settled before the service is asked.
    KeywordSource keywords;
    std::optional<KeywordPattern> pattern;
    if (options.command == CliOptions::Command::Search) {
        bool any = false;
        keywords = cli::searchKeywords(options, &any);
        if (options.patterned) {
            pattern = cli::parsePattern(options.pattern);
            if (!pattern)
                return 2;
        }
        if (!any && !pattern) {
            cli::writeError("norvale-cli: no keyword left once spaces and extensions are taken off\n");
            return 2;
        }
    }
    const DataServiceBase service = effectiveDataServiceBase(options.dataService);
    if (!service.error.isEmpty()) {
        cli::writeError("norvale-cli: " + service.error.toUtf8() + '\n');
        return 2;
    }

    auto stack = std::make_shared<DatabaseWithPlatform>(dataServiceAddress(service.base));
    std::shared_ptr<ServerDatabase> database(stack, &stack->database);
    // As at the window's start: the data service is asked, then the
    // configuration read; either failing ends the run with the window's message.
    ConfigLoadResult loaded = loadConfigRecord(*database);
    switch (loaded.outcome) {
    case ConfigLoadResult::Outcome::Loaded:
        break;
    case ConfigLoadResult::Outcome::Failed:
        stack->platform.showMessage(QStringLiteral("Norvale"), loaded.error, nullptr);
        return 1;
    case ConfigLoadResult::Outcome::Ending:
        return stack->platform.exitCode() >= 0 ? stack->platform.exitCode() : 1;
    }

    const Configuration config(std::move(loaded.record));
    switch (options.command) {
    case CliOptions::Command::Search:
        return cli::runSearch(options, std::move(keywords), pattern, database, config);
    case CliOptions::Command::Whois:
        return cli::runWhois(options, database, config);
    case CliOptions::Command::Ip:
        return cli::runIp(options, database, config);
    case CliOptions::Command::Filing:
        return cli::runFiling(options, database);
    case CliOptions::Command::Help:
    case CliOptions::Command::Generate:
        break;
    }
    return 0;
}

} // namespace norvale
