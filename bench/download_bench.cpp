// The installer download at full speed: a 200 MiB file from norvale-services
// over loopback, once with the curl command-line tool and once through the
// about window's real panel (offscreen), which must keep up with it while
// the interface thread stays free and the panel keeps moving.
#include "bench/StallProbe.h"
#include "norvale/gui/about/DownloadPanel.h"
#include "norvale/gui/about/Fabout.h"
#include "norvale/core/net/Cls_DownLoad.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ServicesProcess.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>

using namespace norvale;

namespace {

constexpr qint64 kBytes = qint64(200) * 1024 * 1024;

int setupFailed(const QString &why)
{
    std::fprintf(stderr, "download_bench: %s\n", qPrintable(why));
    return 2;
}

QByteArray digestOf(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return hash.result();
}

// Counts the paints of a widget: what the user sees change.
class PaintCounter final : public QObject {
public:
    using QObject::QObject;
    int paints = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

struct Run {
    double seconds = 0;
    double maxStallMs = 0;
    int panelUpdates = 0;
    bool complete = false;
};

Run throughThePanel(const QString &address, const QString &folder)
{
    test::RecordingPlatform platform;   // answers No: nothing is installed
    QStringList values;
    for (const QLatin1StringView key : kConfigKeys)
        values.append(key == QLatin1StringView("ldownurl") ? address : QString());
    values[0] = QStringLiteral("9");    // lver: offer the upgrade
    Configuration config{ConfigRecord(values)};
    Fabout about(config, platform, folder);
    about.show();
    DownloadPanel *panel = about.fdownload();

    Run run;
    QEventLoop loop;
    QObject::connect(&panel->download(), &Cls_DownLoad::finished, &loop,
                     [&](const DownloadResult &result) {
                         run.complete = result.complete && result.bytes == kBytes;
                         loop.quit();
                     });
    PaintCounter counter;
    panel->ltext()->installEventFilter(&counter);

    bench::StallProbe stalls;

    QElapsedTimer clock;
    clock.start();
    stalls.start();
    about.findChild<QPushButton *>(QStringLiteral("ldownact"))->click();
    loop.exec();
    run.seconds = double(clock.nsecsElapsed()) / 1e9;
    run.maxStallMs = stalls.maxStallMs();
    run.panelUpdates = counter.paints;
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    test::ServicesProcess services;
    QString why;
    if (!services.start(&why))
        return setupFailed(why);
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir(dir.path()).mkdir(QStringLiteral("norvale")))
        return setupFailed(QStringLiteral("no temporary folder"));
    const QString address = services.baseUrl() + QStringLiteral("/download/large/bench.bin?size=")
                            + QString::number(kBytes);

    // The curl tool first, into a file of its own, which then makes way.
    const QString curlFile = dir.filePath(QStringLiteral("curl.bin"));
    QElapsedTimer clock;
    clock.start();
    QProcess curl;
    curl.start(QStringLiteral("curl"), {QStringLiteral("-sf"), QStringLiteral("-o"), curlFile, address});
    if (!curl.waitForFinished(300000) || curl.exitStatus() != QProcess::NormalExit || curl.exitCode() != 0)
        return setupFailed(QStringLiteral("curl failed (is the curl tool installed?)"));
    const double curlSeconds = double(clock.nsecsElapsed()) / 1e9;
    const QByteArray expected = digestOf(curlFile);
    if (QFileInfo(curlFile).size() != kBytes || expected.isEmpty())
        return setupFailed(QStringLiteral("curl's file is not whole"));
    QFile::remove(curlFile);

    const QString folder = dir.filePath(QStringLiteral("norvale"));
    const Run run = throughThePanel(address, folder);
    const QString saved = QDir(folder).filePath(QStringLiteral("bench.bin?size=") + QString::number(kBytes));
    if (!run.complete || digestOf(saved) != expected) {
        std::fprintf(stderr, "download_bench: the panel's download differs from curl's\n");
        return 1;
    }

    const double curlRate = double(kBytes) / 1e6 / curlSeconds;
    const double norvaleRate = double(kBytes) / 1e6 / run.seconds;
    std::printf("bytes=%lld curl_mb_s=%.1f norvale_mb_s=%.1f ratio=%.2f max_stall_ms=%.1f panel_updates=%d\n",
                static_cast<long long>(kBytes), curlRate, norvaleRate, norvaleRate / curlRate,
                run.maxStallMs, run.panelUpdates);
    return 0;
}
