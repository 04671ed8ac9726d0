#pragma once

#include <QString>

class QObject;

namespace norvale {

class Platform;

// Addresses from the operator's configuration and pages reach us over plain
// HTTP, and the desktop's "open" runs local files and programs as readily as
// it shows a page. Only web and mail addresses may be handed to it.
bool isWebOrMailAddress(const QString &address);

// Opens the address through the platform when it is a web or mail address;
// anything else is refused, logged, and the user told so in one message over
// the window `over`. Returns whether it was handed to the desktop.
bool openWebAddress(Platform &platform, const QString &address, QObject *over);

namespace webaddresstext {
inline constexpr char16_t refused[] = u"该地址不是网页或邮件地址，无法打开。";
} // namespace webaddresstext

} // namespace norvale
