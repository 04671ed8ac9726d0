#include "norvale/gui/main/FdomainSettings.h"

#include "norvale/gui/main/Fdomain.h"
#include "norvale/gui/main/ResultGridView.h"

#include <QAction>
#include <QCheckBox>
#include <QSettings>

#include <algorithm>

namespace norvale {

namespace {

// The grid columns a user sees and may widen; the others stay hidden.
constexpr int firstShownColumn = 3;
constexpr int lastShownColumn = 7;
constexpr int narrowest = 16;
constexpr int widest = 2000;

const QString rememberKey = QStringLiteral("search/remember");
const QString allKey = QStringLiteral("search/all");
const QString kindsKey = QStringLiteral("search/kinds");
const QString relatedKey = QStringLiteral("search/related");

void restoreTicks(Fdomain &window, const QSettings &settings)
{
    // The boxes are set as a click would leave them, so the search's copy
    // follows; "全部" wins over kinds a hand-edited file also ticks.
    const bool all = settings.value(allKey).toBool();
    const QStringList kinds = settings.value(kindsKey).toStringList();
    for (int i = 0; i < Fdomain::ExtensionCount; ++i)
        window.controls().lextendnum[std::size_t(i)]->setChecked(!all && kinds.contains(window.controls().lextendnum[std::size_t(i)]->text()));
    window.controls().lextendnum1->setChecked(all);
    window.controls().lshowbak->setChecked(settings.value(relatedKey).toBool());
}

} // namespace

void restoreWindowSettings(Fdomain &window, const QString &file)
{
    QSettings settings(file, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return;

    const bool remember = settings.value(rememberKey).toBool();
    window.controls().mremember->setChecked(remember);
    if (remember && settings.contains(allKey))
        restoreTicks(window, settings);

    const QList<QVariant> widths = settings.value(QStringLiteral("grid/widths")).toList();
    for (int col = firstShownColumn; col <= lastShownColumn; ++col) {
        bool ok = false;
        const int width = widths.value(col - firstShownColumn).toInt(&ok);
        if (ok)
            window.controls().grid1->setColWidth(col, std::clamp(width, narrowest, widest));
    }

    // restoreGeometry refuses what it cannot read and keeps the window on a
    // screen that is there now.
    window.restoreGeometry(settings.value(QStringLiteral("window/geometry")).toByteArray());
}

void saveWindowSettings(const Fdomain &window, const QString &file)
{
    QSettings settings(file, QSettings::IniFormat);
    const bool remember = window.controls().mremember->isChecked();
    settings.setValue(rememberKey, remember);
    if (remember) {
        QStringList kinds;
        for (int i = 0; i < Fdomain::ExtensionCount; ++i) {
            if (window.controls().lextendnum[std::size_t(i)]->isChecked())
                kinds << window.controls().lextendnum[std::size_t(i)]->text();
        }
        settings.setValue(allKey, window.controls().lextendnum1->isChecked());
        settings.setValue(kindsKey, kinds);
        settings.setValue(relatedKey, window.controls().lshowbak->isChecked());
    } else {
        // Nothing is kept that the entry no longer asks for.
        for (const QString &key : {allKey, kindsKey, relatedKey})
            settings.remove(key);
    }
    QList<QVariant> widths;
    for (int col = firstShownColumn; col <= lastShownColumn; ++col)
        widths << window.controls().grid1->colWidth(col);
    settings.setValue(QStringLiteral("grid/widths"), widths);
    settings.setValue(QStringLiteral("window/geometry"), window.saveGeometry());
    settings.sync();
}

} // namespace norvale
