#pragma once

class QCoreApplication;

namespace kestrup {

// Gives Qt's own texts (the message box's button) in Simplified Chinese,
// whatever the system's language, as Norvale does. Returns whether Qt's
// translations were found (Debian's qt6-translations-l10n).
bool installQtTranslations(QCoreApplication &app);

} // namespace kestrup
