#pragma once

class QCoreApplication;

namespace norvale {

// Gives Qt's own texts (the buttons of message boxes, the file dialog, the
// context menus of text boxes) in Simplified Chinese, whatever the system's
// language: the program speaks Chinese only. Returns whether Qt's
// translations were found (Debian's qt6-translations-l10n); without them
// those texts stay English.
bool installQtTranslations(QCoreApplication &app);

} // namespace norvale
