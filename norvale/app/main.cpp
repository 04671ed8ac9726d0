#include "norvale/core/data/DataServiceAddress.h"
#include "norvale/core/data/ServerDatabase.h"
#include "norvale/gui/platform/DesktopPlatform.h"
#include "norvale/gui/platform/QtTranslations.h"
#include "norvale/gui/platform/FontSubstitutes.h"
#include "norvale/gui/startup/StartupSequence.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QIcon>
#include <QStandardPaths>

#include <cstdio>

namespace {

void describeOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Norvale: domain-name search.\n\nThe data-address service is asked for the "
                       "database's connection text at every start. Its base address comes from --%1, "
                       "else from the environment variable %2, else from the build (%3).")
            .arg(QLatin1StringView(norvale::dataServiceOption), QLatin1StringView(norvale::dataServiceVariable),
                 QStringLiteral(NORVALE_DATA_SERVICE_BASE)));
    parser.addHelpOption();
    parser.addOption({QLatin1StringView(norvale::dataServiceOption),
                      QStringLiteral("Base address of the data-address service, e.g. http://127.0.0.1:8858."),
                      QStringLiteral("address")});
}

} // namespace

int main(int argc, char *argv[])
{
    // Help is given before anything needs a display.
    {
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        QCommandLineParser early;
        describeOptions(early);
        if (early.parse(arguments) && early.isSet(QStringLiteral("help"))) {
            // Without an application object the parser cannot name the program.
            const QString help = early.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("norvale"));
            std::fputs(qPrintable(help), stdout);
            return 0;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Norvale"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/norvale.png")));
    if (!norvale::installQtTranslations(app))
        qWarning("Qt's Chinese translations are missing (qt6-translations-l10n): stock buttons read in English");
    // The window system's own options (-platform …) are gone from the
    // arguments by now, so anything left over is a mistake.
    QCommandLineParser parser;
    describeOptions(parser);
    parser.process(app);
    const norvale::DataServiceBase service =
        norvale::effectiveDataServiceBase(parser.value(QLatin1StringView(norvale::dataServiceOption)));
    if (!service.error.isEmpty()) {
        std::fprintf(stderr, "norvale: %s\n", qPrintable(service.error));
        return 2;
    }
    norvale::installFontSubstitutes();

    norvale::DesktopPlatform platform;
    norvale::ServerDatabase database(platform, norvale::dataServiceAddress(service.base));
    norvale::StartupSequence sequence(database, platform, QCoreApplication::applicationDirPath());
    // Beside the first-run record, in the user's configuration folder.
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (!config.isEmpty())
        sequence.setSettingsFile(QDir(config).filePath(QStringLiteral("norvale/norvale.conf")));
    // One line on stderr, so that a script can tell the start-up has finished.
    QObject::connect(&sequence, &norvale::StartupSequence::ready, &app,
                     [] { qInfo("Norvale is ready"); });
    sequence.start();
    // The program always ends through the platform's immediate exit.
    return QApplication::exec();
}
