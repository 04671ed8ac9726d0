#include "norvale/cli/CliOptions.h"

#include "norvale/core/data/DataServiceAddress.h"

#include <QCommandLineParser>

namespace norvale {

namespace {

CliParse bad(const QString &why)
{
    return {std::nullopt, why};
}

// ".com,.cn" or "com, cn": each must be one of the seventeen kinds.
std::optional<std::array<bool, kindCount>> parseKinds(const QString &text, QString *error)
{
    std::array<bool, kindCount> chosen{};
    for (QString kind : text.split(u',', Qt::SkipEmptyParts)) {
        kind = kind.trimmed().toLower();
        if (!kind.startsWith(u'.'))
            kind.prepend(u'.');
        const auto &kinds = extensionKinds();
        const auto found = std::find(kinds.cbegin(), kinds.cend(), kind);
        if (found == kinds.cend()) {
            *error = QStringLiteral("unknown kind \"%1\"; the kinds are %2")
                         .arg(kind, QStringList(kinds.cbegin(), kinds.cend()).join(u','));
            return std::nullopt;
        }
        chosen[std::size_t(found - kinds.cbegin())] = true;
    }
    if (std::none_of(chosen.cbegin(), chosen.cend(), [](bool b) { return b; })) {
        *error = QStringLiteral("--kinds names no kind");
        return std::nullopt;
    }
    return chosen;
}

std::optional<ResultFormat> parseFormat(const QString &text)
{
    if (text == QLatin1StringView("table"))
        return ResultFormat::Table;
    if (text == QLatin1StringView("csv"))
        return ResultFormat::Csv;
    if (text == QLatin1StringView("json"))
        return ResultFormat::Json;
    return std::nullopt;
}

} // namespace

QString cliUsage()
{
    return QStringLiteral(
               "usage: norvale-cli search KEYWORD... [--kinds .com,.cn,...] [--related] [--format table|csv|json]\n"
               "       norvale-cli search --pattern PATTERN [--kinds ...] [--related] [--format ...]\n"
               "       norvale-cli search ... --format csv|json --resume FILE\n"
               "       norvale-cli generate PATTERN [--count]\n"
               "       norvale-cli whois NAME [--format ...]\n"
               "       norvale-cli ip NAME|ADDRESS [--format ...]\n"
               "       norvale-cli filing NAME [--format ...]\n"
               "\n"
               "The same search and lookups as the Norvale window, without a window. Keywords may also\n"
               "come one per line on standard input (UTF-8 or GBK), or from it where a keyword is \"-\".\n"
               "Rows go to standard output as they complete, in the window's order; progress goes to\n"
               "standard error when that is a terminal. CSV written into a file begins with a UTF-8\n"
               "byte-order mark, so that a spreadsheet reads it correctly.\n"
               "\n"
               "generate prints the keywords of a pattern, one per line, as they are made; search\n"
               "--pattern searches them. For example {声母}{声母}{声母}, {数字:AABB}, {拼音:海棠},\n"
               "{前缀:my,get}{拼音:北京}, {数字:4}不含4; the users' guide lists the whole language.\n"
               "\n"
               "  --kinds LIST          extension kinds to search, by default all of\n"
               "                        %1\n"
               "  --related             add the filed domains that contain the keyword\n"
               "  --format FORMAT       table (default), csv or json\n"
               "  --pattern PATTERN     search the keywords of a pattern (with or beside KEYWORDs)\n"
               "  --resume FILE         write the rows to FILE; when an earlier run of the same search\n"
               "                        was cut, search only the rows it lacks and append them\n"
               "  --count               generate: print only how many keywords the pattern makes\n"
               "  --data-service ADDR   base address of the data-address service; else %2,\n"
               "                        else the build's %3\n"
               "\n"
               "Exit status: 0 done, 1 the data service or the database cannot be reached, 2 bad usage.\n")
        .arg(QStringList(extensionKinds().cbegin(), extensionKinds().cend()).join(u','),
             QLatin1StringView(dataServiceVariable), QStringLiteral(NORVALE_DATA_SERVICE_BASE));
}

CliParse parseCliArguments(const QStringList &arguments, bool stdinIsTerminal)
{
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption kinds(QStringLiteral("kinds"), QString(), QStringLiteral("list"));
    const QCommandLineOption related(QStringLiteral("related"), QString());
    const QCommandLineOption format(QStringLiteral("format"), QString(), QStringLiteral("format"));
    const QCommandLineOption service(QLatin1StringView(dataServiceOption), QString(), QStringLiteral("address"));
    const QCommandLineOption pattern(QStringLiteral("pattern"), QString(), QStringLiteral("pattern"));
    const QCommandLineOption count(QStringLiteral("count"), QString());
    const QCommandLineOption resume(QStringLiteral("resume"), QString(), QStringLiteral("file"));
    parser.addOptions({help, kinds, related, format, service, pattern, count, resume});
    // The parser wants the program's name first.
    if (!parser.parse(QStringList{QStringLiteral("norvale-cli")} + arguments))
        return bad(parser.errorText());

    CliOptions options;
    QStringList words = parser.positionalArguments();
    if (parser.isSet(help) || words.isEmpty() || words.first() == QLatin1StringView("help")) {
        if (!parser.isSet(help) && words.isEmpty())
            return bad(QStringLiteral("no command"));
        return {options, {}};
    }

    const QString command = words.takeFirst();
    if (command == QLatin1StringView("search"))
        options.command = CliOptions::Command::Search;
    else if (command == QLatin1StringView("whois"))
        options.command = CliOptions::Command::Whois;
    else if (command == QLatin1StringView("ip"))
        options.command = CliOptions::Command::Ip;
    else if (command == QLatin1StringView("filing"))
        options.command = CliOptions::Command::Filing;
    else if (command == QLatin1StringView("generate"))
        options.command = CliOptions::Command::Generate;
    else
        return bad(QStringLiteral("unknown command \"%1\"").arg(command));

    if (parser.isSet(format)) {
        const std::optional<ResultFormat> chosen = parseFormat(parser.value(format));
        if (!chosen)
            return bad(QStringLiteral("unknown format \"%1\"; use table, csv or json").arg(parser.value(format)));
        options.format = *chosen;
    }
    options.dataService = parser.value(service);

    if (options.command == CliOptions::Command::Generate) {
        if (parser.isSet(kinds) || parser.isSet(related) || parser.isSet(format) || parser.isSet(pattern)
            || parser.isSet(resume))
            return bad(QStringLiteral("generate takes a pattern and --count only"));
        if (words.size() != 1)
            return bad(QStringLiteral("generate takes one pattern (quote it)"));
        options.pattern = words.first();
        options.countOnly = parser.isSet(count);
        return {options, {}};
    }
    if (parser.isSet(count))
        return bad(QStringLiteral("--count belongs to generate"));

    if (options.command == CliOptions::Command::Search) {
        options.pattern = parser.value(pattern);
        options.patterned = parser.isSet(pattern);
        if (parser.isSet(kinds)) {
            QString error;
            options.kinds = parseKinds(parser.value(kinds), &error);
            if (!options.kinds)
                return bad(error);
        }
        options.related = parser.isSet(related);
        options.resumeFile = parser.value(resume);
        if (parser.isSet(resume) && options.format == ResultFormat::Table)
            return bad(QStringLiteral("--resume needs --format csv or json"));
        options.keywordsFromInput = words.removeAll(QStringLiteral("-")) > 0
                                    || (words.isEmpty() && !stdinIsTerminal && !options.patterned);
        if (words.isEmpty() && !options.keywordsFromInput && !options.patterned)
            return bad(QStringLiteral("search needs a keyword (or keywords on standard input)"));
        options.keywords = words;
        return {options, {}};
    }

    if (parser.isSet(kinds) || parser.isSet(related) || parser.isSet(pattern) || parser.isSet(resume))
        return bad(QStringLiteral("--kinds, --related, --pattern and --resume belong to search"));
    if (words.size() != 1)
        return bad(QStringLiteral("%1 takes one name").arg(command));
    options.target = words.first();
    return {options, {}};
}

} // namespace norvale
