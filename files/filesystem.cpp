#include "filesystem.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace torvale {

QString describe_errno(int code)
{
    switch (code) {
    case ENOENT:
        return QStringLiteral("文件已不存在");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有权限");
    case EEXIST:
        return QStringLiteral("目标名称已被占用");
    case EROFS:
        return QStringLiteral("文件系统是只读的");
    case ENOSPC:
        return QStringLiteral("磁盘空间不足");
    case ENAMETOOLONG:
        return QStringLiteral("文件名太长");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("文件正被使用");
    case EISDIR:
        return QStringLiteral("这是一个文件夹");
    case ELOOP:
        return QStringLiteral("这是一个符号链接");
    default:
        return QStringLiteral("系统错误：%1").arg(QString::fromLocal8Bit(std::strerror(code)));
    }
}

#ifdef Q_OS_UNIX

bool read_file(const QString &path, QByteArray *bytes, QString *error)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = describe_errno(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = QStringLiteral("不是普通文件");
        ::close(fd);
        return false;
    }
    bytes->clear();
    if (st.st_size > 0) {
        if (quint64(st.st_size) >= quint64(std::numeric_limits<qsizetype>::max() / 2)) {
            *error = QStringLiteral("文件太大");
            ::close(fd);
            return false;
        }
        bytes->resize(qsizetype(st.st_size));
    }
    // A file can grow or shrink while it is read: read until the end.
    qsizetype filled = 0;
    for (;;) {
        if (filled == bytes->size())
            bytes->resize(filled + qMax<qsizetype>(4096, filled / 2));
        const ssize_t n = ::read(fd, bytes->data() + filled, size_t(bytes->size() - filled));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = describe_errno(errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        filled += n;
    }
    bytes->resize(filled);
    ::close(fd);
    return true;
}

namespace {

bool same_file(int dirfd, const QByteArray &a, const QByteArray &b)
{
    struct stat x, y;
    return ::fstatat(dirfd, a.constData(), &x, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::fstatat(dirfd, b.constData(), &y, AT_SYMLINK_NOFOLLOW) == 0 && x.st_dev == y.st_dev &&
           x.st_ino == y.st_ino;
}

} // namespace

Directory::Directory(const QString &path) : m_path(path)
{
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

Directory::~Directory()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Directory::rename_no_replace(const QString &from, const QString &to, QString *error) const
{
    if (m_fd < 0) {
        *error = QStringLiteral("无法打开文件夹“%1”").arg(m_path);
        return false;
    }
    const QByteArray a = QFile::encodeName(from);
    const QByteArray b = QFile::encodeName(to);
#ifdef RENAME_NOREPLACE
    if (::renameat2(m_fd, a.constData(), m_fd, b.constData(), RENAME_NOREPLACE) == 0)
        return true;
    int err = errno;
    if (err == EEXIST && same_file(m_fd, a, b)) {
        // Only the letter case changes, on a file system that ignores it.
        if (::renameat(m_fd, a.constData(), m_fd, b.constData()) == 0)
            return true;
        err = errno;
    }
    if (err != EINVAL && err != ENOSYS) {
        *error = describe_errno(err);
        return false;
    }
#endif
    // File systems without an atomic no-replace rename: look, then rename.
    struct stat st;
    if (::fstatat(m_fd, b.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !same_file(m_fd, a, b)) {
        *error = describe_errno(EEXIST);
        return false;
    }
    if (::renameat(m_fd, a.constData(), m_fd, b.constData()) != 0) {
        *error = describe_errno(errno);
        return false;
    }
    return true;
}

bool is_write_protected(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

#else

bool read_file(const QString &path, QByteArray *bytes, QString *error)
{
    QFile file(path);
    if (QFileInfo(path).isSymLink() || !QFileInfo(path).isFile()) {
        *error = QStringLiteral("不是普通文件");
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    *bytes = file.readAll();
    return true;
}

Directory::Directory(const QString &path) : m_path(path) {}

Directory::~Directory() = default;

bool Directory::rename_no_replace(const QString &from, const QString &to, QString *error) const
{
    // QFile::rename never replaces an existing file.
    const QDir dir(m_path);
    QFile file(dir.filePath(from));
    if (file.rename(dir.filePath(to)))
        return true;
    *error = file.errorString();
    return false;
}

bool is_write_protected(const QString &path)
{
    return !QFileInfo(path).isWritable();
}

#endif

bool save_file(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("无法写入：%1").arg(file.errorString());
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        *error = QStringLiteral("写入失败：%1").arg(file.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = QStringLiteral("写入失败：%1").arg(file.errorString());
        return false;
    }
    return true;
}

} // namespace torvale
