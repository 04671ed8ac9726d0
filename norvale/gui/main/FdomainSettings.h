#pragma once

#include <QString>

namespace norvale {

class Fdomain;

// What the main window keeps between runs, in an INI file of its own: the
// widths of the shown grid columns, the window's size and place (maximised
// or not), and "记住勾选"; the ticked kinds, "全部" and "显示已备案的相关域名"
// only while "记住勾选" is ticked, since otherwise the window starts as it
// promises ("全部" ticked, the related box clear). A missing or damaged file
// leaves the window as it opens by default.
void restoreWindowSettings(Fdomain &window, const QString &file);
void saveWindowSettings(const Fdomain &window, const QString &file);

} // namespace norvale
