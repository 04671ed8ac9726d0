#include "kestrup/Components.h"
#include "kestrup/ComponentInstaller.h"
#include "kestrup/DesktopKestrupPlatform.h"
#include "kestrup/Form1.h"
#include "kestrup/KestrupRun.h"
#include "kestrup/QtTranslations.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrup"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/norvale.png")));
    if (!kestrup::installQtTranslations(app))
        qWarning("Qt's Chinese translations are missing (qt6-translations-l10n): stock buttons read in English");

    const QString programFolder = QCoreApplication::applicationDirPath();
    kestrup::DesktopKestrupPlatform platform;
    kestrup::Form1 window;
    kestrup::KestrupRun run(window, platform, programFolder, kestrup::linuxComponentLists(),
                            kestrup::userComponentPlaces(programFolder));
    run.start();
    // Kestrup ends when its window closes.
    return QApplication::exec();
}
