#include "tests/support/ServicesProcess.h"

#include "norvale/core/web/GetBody.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Started.h"
#include "tests/support/TestSql.h"

#include <QFile>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace norvale::test {

bool ServicesProcess::start(QString *error)
{
    auto fail = [&](const QString &why) {
        stop();
        return failed(error, why);
    };

    m_databasePath = m_options.databasePath;
    if (m_databasePath.isEmpty()) {
        m_dir = std::make_unique<QTemporaryDir>();
        if (!m_dir->isValid())
            return fail(u"no temporary folder"_s);
        m_databasePath = m_dir->filePath(u"norvale.db"_s);
    }

    QStringList args{u"--port"_s, QString::number(m_port), u"--db"_s, m_databasePath};
    if (m_options.delayMs > 0)
        args << u"--delay"_s << QString::number(m_options.delayMs);
    if (!m_options.delayPath.isEmpty())
        args << u"--delay-path"_s << m_options.delayPath;
    // Registries only where a test points the services at its own: no test
    // reaches the internet.
    if (!m_options.extraArguments.contains(u"--registries"_s))
        args << u"--registries"_s << u"off"_s;
    args << m_options.extraArguments;

    endWithParent(m_process);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setStandardErrorFile(m_logDir.filePath(u"services.log"_s));
    m_process.setProgram(QStringLiteral(NORVALE_SERVICES_EXE));
    m_process.setArguments(args);
    m_process.start();
    if (!m_process.waitForStarted(10000))
        return fail(u"norvale-services did not start: "_s + m_process.errorString());

    static const QRegularExpression listening(u"listening on (http://127\\.0\\.0\\.1:(\\d+))"_s);
    QByteArray seen;
    QRegularExpressionMatch match;
    if (!waitUntilReady(m_process, 60000, [&] {
            seen += m_process.readAllStandardOutput();
            match = listening.match(QString::fromUtf8(seen));
            return match.hasMatch();
        }))
        return fail(u"norvale-services did not report ready; it said: "_s
                    + QString::fromUtf8(seen + log()));
    m_baseUrl = match.captured(1);
    m_port = match.captured(2).toInt();
    return true;
}

bool ServicesProcess::restart(QString *error)
{
    stop();
    m_options.databasePath = m_databasePath;
    return start(error);
}

QString ServicesProcess::dataServiceUrl() const
{
    return m_baseUrl + u"/geturl/dataurl.asp?checkin=qomp58x"_s;
}

namespace {

// The number after prefix on its line of the /stats page, 0 when none.
int statsNumber(const QString &baseUrl, const QString &prefix)
{
    const QString stats = QString::fromUtf8(fetchPage(baseUrl + u"/stats"_s).body);
    for (const QString &line : stats.split(u'\n')) {
        if (line.startsWith(prefix))
            return QStringView(line).sliced(prefix.size()).toInt();
    }
    return 0;
}

} // namespace

int ServicesProcess::requestCount(const QString &path) const
{
    return statsNumber(m_baseUrl, path + u' ');
}

int ServicesProcess::connectionCount(const QString &path) const
{
    return statsNumber(m_baseUrl, u"connections "_s + path + u' ');
}

QByteArray ServicesProcess::log() const
{
    QFile file(m_logDir.filePath(u"services.log"_s));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool ServicesProcess::execSql(const QString &statement) const
{
    return test::execSql(m_databasePath, statement);
}

} // namespace norvale::test
