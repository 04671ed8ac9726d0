#pragma once

#include <QString>

namespace norvale {

class Fdomain;

// What the main window keeps between runs, in an INI file of its own: the
// ticked kinds, "全部", "显示已备案的相关域名", the widths of the shown grid
// columns, and the window's size and place (maximised or not). A missing or
// damaged file leaves the window as it opens by default.
void restoreWindowSettings(Fdomain &window, const QString &file);
void saveWindowSettings(const Fdomain &window, const QString &file);

} // namespace norvale
