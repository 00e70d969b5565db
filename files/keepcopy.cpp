#include "keepcopy.h"

#include "sysio.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace torvale {

using sysio::retry;

namespace {

// Copies a whole file by its handle, from offset 0, leaving the handle's own
// offset alone: the kernel copies (or shares blocks) where it can.
bool copy_contents(int from, int to, qint64 size, QString *error)
{
    if (::ioctl(to, FICLONE, from) == 0)
        return true;
    loff_t in = 0;
    while (in < size) {
        const ssize_t n =
            retry([&] { return ::copy_file_range(from, &in, to, nullptr, size_t(size - in), 0); });
        if (n > 0)
            continue;
        if (n == 0)
            return true; // the file shrank meanwhile: what is there is copied
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
            *error = describe_errno(errno);
            return false;
        }
        // No kernel copy between these file systems: by hand.
        char buffer[1 << 16];
        for (;;) {
            const ssize_t got = retry([&] { return ::pread(from, buffer, sizeof buffer, in); });
            if (got < 0) {
                *error = describe_errno(errno);
                return false;
            }
            if (got == 0)
                return true;
            for (ssize_t done = 0; done < got;) {
                const ssize_t put = retry([&] { return ::write(to, buffer + done, size_t(got - done)); });
                if (put <= 0) {
                    *error = describe_errno(put < 0 ? errno : ENOSPC);
                    return false;
                }
                done += put;
            }
            in += got;
        }
    }
    return true;
}

} // namespace

bool keep_copy(FileReader &file, const Folder &into, const QByteArray &name, bool *linked, QString *error)
{
    if (!file.unchanged(error))
        return false;
    // The open handle's /proc entry links exactly the file that was read,
    // whatever happened to its name since.
    const QByteArray proc = "/proc/self/fd/" + QByteArray::number(file.handle());
    *linked =
        retry([&] {
            return ::linkat(AT_FDCWD, proc.constData(), into.handle(), name.constData(), AT_SYMLINK_FOLLOW);
        }) == 0;
    if (*linked) {
        file.note_own_change(); // a link changes the file's change time
        return true;
    }
    if (errno == EEXIST) {
        *error = describe_errno(errno);
        return false;
    }
    const int fd = retry([&] {
        return ::openat(into.handle(), name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        0600);
    });
    if (fd < 0) {
        *error = describe_errno(errno);
        return false;
    }
    const bool copied = copy_contents(file.handle(), fd, file.stamp().size, error) &&
                        (retry([&] { return ::fchmod(fd, file.stamp().mode & 0777); }) == 0 ||
                         (*error = describe_errno(errno), false));
    if (::close(fd) != 0 && copied && errno != EINTR) {
        *error = describe_errno(errno);
        ::unlinkat(into.handle(), name.constData(), 0);
        return false;
    }
    if (!copied)
        ::unlinkat(into.handle(), name.constData(), 0);
    return copied;
}

} // namespace torvale
