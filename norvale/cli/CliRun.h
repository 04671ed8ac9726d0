#pragma once

#include "norvale/cli/CliOptions.h"
#include "norvale/core/search/DomainSearch.h"
#include "norvale/core/search/KeywordPattern.h"

#include <QCoreApplication>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>

namespace norvale {

class Configuration;
class ServerDatabase;
struct KeywordSource;

// Runs one command to its end, with the same discovery, configuration and
// engines as the window, and gives the exit status: 0 done, 1 the data
// service or the database cannot be reached (the window's message goes to
// standard error), 2 bad usage. Needs a QCoreApplication.
int runCli(const CliOptions &options);

namespace cli {

// The command line has no window: the application's own event loop, run
// from main through here, carries an engine's reports until `finished`
// comes. `start` may finish at once, before the loop would run.
template <typename Sender, typename Signal>
void runUntil(const Sender *sender, Signal finished, const std::function<void()> &start)
{
    bool done = false;
    const QMetaObject::Connection ending = QObject::connect(sender, finished, QCoreApplication::instance(), [&done] {
        done = true;
        QCoreApplication::quit();
    });
    start();
    if (!done)
        QCoreApplication::exec();
    QObject::disconnect(ending);
}

// A pattern, or nullopt with its error on standard error.
std::optional<KeywordPattern> parsePattern(const QString &text);
// generate: needs neither the data service nor the database.
int runGenerate(const CliOptions &options);
// The given keywords, then the pattern's, made as the search asks for them.
KeywordSource patternSource(KeywordSource given, const KeywordPattern &pattern);

// The commands, once the configuration is in.
// The keywords of a search, cleaned: the arguments', then standard input's
// read one at a time as the search needs them. `any` tells whether there is
// at least one (read ahead).
KeywordSource searchKeywords(const CliOptions &options, bool *any);
int runSearch(const CliOptions &options, KeywordSource keywords, const std::optional<KeywordPattern> &pattern,
              std::shared_ptr<ServerDatabase> database, const Configuration &config);
int runWhois(const CliOptions &options, std::shared_ptr<ServerDatabase> database,
             const Configuration &config);
int runIp(const CliOptions &options, std::shared_ptr<ServerDatabase> database,
          const Configuration &config);
int runFiling(const CliOptions &options, std::shared_ptr<ServerDatabase> database);

} // namespace cli

} // namespace norvale
