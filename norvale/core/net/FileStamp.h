#pragma once

#include <sys/stat.h>

namespace norvale {

// What a file looked like when it was read (device, inode, size and time of
// change; a missing file has its own stamp): a different stamp means it must
// be read again.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};

    static FileStamp of(const char *path)
    {
        FileStamp stamp;
        struct stat info {};
        if (::stat(path, &info) == 0)
            stamp = {info.st_dev, info.st_ino, info.st_size, info.st_mtim};
        return stamp;
    }
    bool operator==(const FileStamp &o) const
    {
        return device == o.device && inode == o.inode && size == o.size
               && modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
    }
};

} // namespace norvale
