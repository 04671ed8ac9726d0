#include "norvale/cli/CliOptions.h"
#include "norvale/cli/CliOutput.h"
#include "norvale/cli/CliRun.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("norvale-cli"));
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const norvale::CliParse parsed = norvale::parseCliArguments(arguments, norvale::cli::inputIsTerminal());
    if (!parsed.options) {
        // The synopsis only; --help tells the rest.
        const QString synopsis = norvale::cliUsage().section(QStringLiteral("\n\n"), 0, 0);
        norvale::cli::writeError("norvale-cli: " + parsed.error.toUtf8() + '\n' + synopsis.toUtf8()
                                 + "\n(norvale-cli --help says more)\n");
        return 2;
    }
    return norvale::runCli(*parsed.options);
}
