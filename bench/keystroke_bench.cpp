// Typing into the keyword box while it holds a keyword list just under the
// import limit: how long one key press keeps the interface thread, and the
// longest stall while the list is counted. README.md in this folder explains
// the figures.
#include "bench/StallProbe.h"
#include "norvale/core/data/ServerDatabase.h"
#include "norvale/gui/main/Fdomain.h"
#include "norvale/gui/main/FdomainResults.h"
#include "tests/support/Controls.h"
#include "tests/support/RecordingPlatform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <utility>

using namespace norvale;

namespace {

// Keywords of eight to twelve letters, one per line, to just under `bytes`.
QString keywordList(qint64 bytes)
{
    QString text;
    text.reserve(bytes + 4096);
    for (quint32 i = 0; text.size() < bytes - 16; ++i) {
        if (i > 0)
            text += u'\n';
        text += QStringLiteral("kw%1").arg(i * 2654435761u % 1000000007u, 0, 36);
    }
    return text;
}

// Runs the event loop for ms milliseconds, so that queued work lands.
void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// One key press and release on the box, and the repaint it asks for.
double keystrokeMs(QLineEdit *box, Qt::Key key, const QString &text)
{
    QElapsedTimer clock;
    clock.start();
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(box, &press);
    QApplication::sendEvent(box, &release);
    box->repaint();
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    constexpr double megabytes = 15.9;
    test::RecordingPlatform platform;
    ServerDatabase database(platform, QStringLiteral("http://127.0.0.1:9/dead"));
    Fdomain window(database, platform);
    window.Load();
    window.show();

    // As an import hands it over: the box is then the list's only holder.
    QString list = keywordList(qint64(megabytes * 1000 * 1000));
    bench::StallProbe stalls;
    stalls.start();
    QElapsedTimer clock;
    clock.start();
    test::control<KeywordBox>(window, "lfind")->setList(std::exchange(list, {}));
    const double setMs = double(clock.nsecsElapsed()) / 1e6;
    test::control<KeywordBox>(window, "lfind")->setFocus();
    test::control<KeywordBox>(window, "lfind")->end(false);
    settle(3000);

    // Quick presses, then presses while the list is being counted again.
    double worst = 0;
    for (int pause : {50, 50, 50, 50, 200, 300, 400, 600, 800}) {
        worst = std::max(worst, keystrokeMs(test::control<KeywordBox>(window, "lfind"), Qt::Key_X, QStringLiteral("x")));
        settle(pause);
        worst = std::max(worst, keystrokeMs(test::control<KeywordBox>(window, "lfind"), Qt::Key_Backspace, QString()));
        settle(pause);
    }
    settle(3000);
    std::fprintf(stderr, "import_ms=%.1f count_label=%s\n", setMs, qPrintable(test::control<QLabel>(window, "lkeycount")->text()));
    std::printf("keyword_list_mb=%.1f keystroke_ms=%.1f typing_max_stall_ms=%.1f\n", megabytes, worst,
                stalls.maxStallMs());
    return 0;
}
