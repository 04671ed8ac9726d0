#include "kestrup/Components.h"
#include "kestrup/ComponentInstaller.h"
#include "kestrup/DesktopKestrupPlatform.h"
#include "kestrup/Form1.h"
#include "kestrup/KestrupRun.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrup"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/norvale.png")));

    const QString programFolder = QCoreApplication::applicationDirPath();
    kestrup::DesktopKestrupPlatform platform;
    kestrup::Form1 window;
    kestrup::KestrupRun run(window, platform, programFolder, kestrup::linuxComponentLists(),
                            kestrup::userComponentPlaces(programFolder));
    run.start();
    // Kestrup ends when its window closes.
    return QApplication::exec();
}
