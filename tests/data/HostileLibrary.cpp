// A library a hostile connection text tries to have a driver load: loading
// it at all leaves a mark, named when the test builds it.
#include <cstdio>

namespace {

__attribute__((constructor)) void leaveMark()
{
    if (std::FILE *mark = std::fopen(HOSTILE_LIBRARY_MARK, "w"))
        std::fclose(mark);
}

} // namespace
