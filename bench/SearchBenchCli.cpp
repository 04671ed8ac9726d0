#include "bench/SearchBenchCli.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>

namespace norvale::bench {

CliSearch runCliSearch(const QString &dataService, const QString &keyword, bool related)
{
    QStringList arguments{QStringLiteral("search"), keyword, QStringLiteral("--format"), QStringLiteral("json"),
                          QStringLiteral("--data-service"), dataService};
    if (related)
        arguments << QStringLiteral("--related");
    CliSearch outcome;
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(NORVALE_CLI_EXE), arguments);
    if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit) {
        outcome.problem = QStringLiteral("norvale-cli did not finish: ") + process.errorString();
        return outcome;
    }
    outcome.seconds = double(clock.nsecsElapsed()) / 1e9;
    if (process.exitCode() != 0) {
        outcome.problem = QStringLiteral("norvale-cli ended with %1: %2")
                              .arg(process.exitCode())
                              .arg(QString::fromUtf8(process.readAllStandardError()));
        return outcome;
    }
    QJsonParseError error;
    outcome.rows = QJsonDocument::fromJson(process.readAllStandardOutput(), &error).array();
    outcome.ok = error.error == QJsonParseError::NoError;
    if (!outcome.ok)
        outcome.problem = QStringLiteral("norvale-cli's JSON: ") + error.errorString();
    return outcome;
}

} // namespace norvale::bench
