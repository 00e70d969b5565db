#include "appendfile.h"

#include "sysio.h"

#include <fcntl.h>
#include <unistd.h>

namespace torvale {

using sysio::retry;

AppendFile::~AppendFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool AppendFile::create(const Folder &folder, const QByteArray &name, QString *error)
{
    m_fd = retry([&] {
        return ::openat(folder.handle(), name.constData(),
                        O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    });
    if (m_fd < 0)
        *error = describe_errno(errno);
    return m_fd >= 0;
}

bool AppendFile::open(const Folder &folder, const QByteArray &name, QString *error)
{
    struct stat st;
    m_fd = sysio::open_regular(folder.handle(), name, O_RDWR | O_APPEND, &st);
    if (m_fd < 0)
        *error = errno == ENODEV || errno == ELOOP ? QStringLiteral("不是普通文件") : describe_errno(errno);
    return m_fd >= 0;
}

bool AppendFile::append(QByteArrayView bytes, QString *error, bool durable)
{
    struct stat st;
    char last = '\n';
    if (::fstat(m_fd, &st) == 0 && st.st_size > 0 &&
        retry([&] { return ::pread(m_fd, &last, 1, st.st_size - 1); }) == 1 && last != '\n') {
        const QByteArray mended = '\n' + bytes.toByteArray();
        return append_bytes(mended, error, durable);
    }
    return append_bytes(bytes, error, durable);
}

bool AppendFile::append_bytes(QByteArrayView bytes, QString *error, bool durable)
{
    const char *data = bytes.data();
    for (qsizetype left = bytes.size(); left > 0;) {
        const ssize_t n = retry([&] { return ::write(m_fd, data, size_t(left)); });
        if (n <= 0) {
            *error = describe_errno(n < 0 ? errno : ENOSPC);
            return false;
        }
        data += n;
        left -= n;
    }
    if (durable && retry([&] { return ::fdatasync(m_fd); }) != 0) {
        *error = describe_errno(errno);
        return false;
    }
    return true;
}

} // namespace torvale
