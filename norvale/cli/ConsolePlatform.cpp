#include "norvale/cli/ConsolePlatform.h"

#include <cstdio>

namespace norvale {

void ConsolePlatform::showMessage(const QString &, const QString &text, QObject *)
{
    std::fprintf(stderr, "norvale-cli: %s\n", text.toUtf8().constData());
    std::fflush(stderr);
}

} // namespace norvale
