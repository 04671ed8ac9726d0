#pragma once

#include "norvale/core/search/ResultExport.h"
#include "norvale/core/search/SearchRules.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace norvale {

// What the command line asks for.
struct CliOptions {
    enum class Command { Help, Search, Whois, Ip, Filing, Generate };
    Command command = Command::Help;

    QStringList keywords;          // search: as given, before cleaning
    bool keywordsFromInput = false;// search: standard input holds (more) keywords
    QString target;                // whois, ip, filing: the name or address
    QString pattern;               // generate, and search --pattern: a keyword pattern
    bool patterned = false;        // search --pattern was given
    bool countOnly = false;        // generate --count

    // The kinds to search; none given means "全部", as the window starts.
    std::optional<std::array<bool, kindCount>> kinds;
    bool related = false;          // "显示已备案的相关域名"
    ResultFormat format = ResultFormat::Table;
    QString dataService;           // --data-service, "" when not given
    QString resumeFile;            // search --resume: rows go there, after a cut run's
};

struct CliParse {
    std::optional<CliOptions> options;
    QString error;  // bad usage: what is wrong
};

// arguments without the program's name. stdinIsTerminal decides whether a
// search without keywords reads them from standard input (it does when the
// input is not a terminal) or is bad usage.
CliParse parseCliArguments(const QStringList &arguments, bool stdinIsTerminal);

QString cliUsage();

} // namespace norvale
