#include "norvale/cli/CliOutput.h"

#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

namespace norvale::cli {

void writeOut(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void writeError(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

bool outputIsTerminal()
{
    return ::isatty(STDOUT_FILENO) == 1;
}

bool errorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

bool inputIsTerminal()
{
    return ::isatty(STDIN_FILENO) == 1;
}

bool outputIsFreshFile()
{
    struct stat info {};
    return ::fstat(STDOUT_FILENO, &info) == 0 && S_ISREG(info.st_mode)
           && ::lseek(STDOUT_FILENO, 0, SEEK_CUR) == 0;
}

} // namespace norvale::cli
