#include "sysio.h"

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace torvale::sysio {

Stamp stamp_of(const struct stat &st)
{
    Stamp s;
    if (S_ISREG(st.st_mode))
        s.kind = Stamp::Kind::Regular;
    else if (S_ISDIR(st.st_mode))
        s.kind = Stamp::Kind::Directory;
    else if (S_ISLNK(st.st_mode))
        s.kind = Stamp::Kind::Link;
    else
        s.kind = Stamp::Kind::Other;
    s.mode = st.st_mode & 07777;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.changedNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return s;
}

int stat_at(int dirfd, const char *name, struct stat *st)
{
    return retry([&] { return ::fstatat(dirfd, name, st, AT_SYMLINK_NOFOLLOW); });
}

int open_regular(int dirfd, const QByteArray &name, int flags, struct stat *st)
{
    const int path =
        retry([&] { return ::openat(dirfd, name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC); });
    if (path < 0)
        return -1;
    int fd = -1;
    if (retry([&] { return ::fstat(path, st); }) == 0) {
        if (!S_ISREG(st->st_mode)) {
            errno = ENODEV;
        } else {
            // Through the handle's /proc entry the very same file opens.
            const QByteArray proc = "/proc/self/fd/" + QByteArray::number(path);
            fd = retry([&] { return ::open(proc.constData(), flags | O_NOCTTY | O_CLOEXEC); });
            if (fd < 0 && errno == ENOENT) { // no /proc: open by name, and compare
                fd = retry([&] {
                    return ::openat(dirfd, name.constData(),
                                    flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
                });
                struct stat opened;
                if (fd >= 0 && (::fstat(fd, &opened) != 0 || opened.st_ino != st->st_ino ||
                                opened.st_dev != st->st_dev)) {
                    ::close(fd);
                    fd = -1;
                    errno = ENODEV;
                }
            }
        }
    }
    const int saved = errno;
    ::close(path);
    errno = saved;
    return fd;
}

mode_t creation_mask()
{
    static const mode_t mask = [] {
        if (FILE *status = std::fopen("/proc/self/status", "re")) {
            char line[256];
            unsigned value = 0;
            while (std::fgets(line, sizeof line, status)) {
                if (std::sscanf(line, "Umask: %o", &value) == 1) {
                    std::fclose(status);
                    return mode_t(value);
                }
            }
            std::fclose(status);
        }
        const mode_t old = ::umask(022);
        ::umask(old);
        return old;
    }();
    return mask;
}

} // namespace torvale::sysio
