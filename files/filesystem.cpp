#include "filesystem.h"

#include <QFile>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <atomic>
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

FileReader::~FileReader()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool FileReader::open(const QString &path, QString *error)
{
    const QByteArray native = QFile::encodeName(path);
    m_fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        *error = describe_errno(errno);
        return false;
    }
    struct stat st;
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = QStringLiteral("不是普通文件");
        return false;
    }
    m_size = st.st_size;
    return true;
}

qsizetype FileReader::read_some(QByteArray &into, qsizetype most, QString *error)
{
    const qsizetype start = into.size();
    into.resize(start + most);
    for (;;) {
        const ssize_t n = ::read(m_fd, into.data() + start, size_t(most));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *error = describe_errno(errno);
            into.resize(start);
            return -1;
        }
        into.resize(start + n);
        return n;
    }
}

bool FileReader::rewind()
{
    return ::lseek(m_fd, 0, SEEK_SET) == 0;
}

#else

FileReader::~FileReader() = default;

bool FileReader::open(const QString &path, QString *error)
{
    if (QFileInfo(path).isSymLink() || !QFileInfo(path).isFile()) {
        *error = QStringLiteral("不是普通文件");
        return false;
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly)) {
        *error = m_file.errorString();
        return false;
    }
    m_size = m_file.size();
    return true;
}

qsizetype FileReader::read_some(QByteArray &into, qsizetype most, QString *error)
{
    const QByteArray chunk = m_file.read(most);
    if (chunk.isEmpty() && m_file.error() != QFileDevice::NoError) {
        *error = m_file.errorString();
        return -1;
    }
    into += chunk;
    return chunk.size();
}

bool FileReader::rewind()
{
    return m_file.seek(0);
}

#endif

bool FileReader::read_rest(QByteArray &into, QString *error)
{
    if (m_size >= qint64(std::numeric_limits<qsizetype>::max() / 2)) {
        *error = QStringLiteral("文件太大");
        return false;
    }
    into.reserve(qsizetype(m_size) + 1);
    // A file can grow or shrink while it is read: read until the end.
    for (;;) {
        const qsizetype want = qMax<qsizetype>(65536, qsizetype(m_size) + 1 - into.size());
        const qsizetype n = read_some(into, want, error);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
    }
}

bool read_file(const QString &path, QByteArray *bytes, QString *error)
{
    FileReader reader;
    bytes->clear();
    return reader.open(path, error) && reader.read_rest(*bytes, error);
}

#ifdef Q_OS_UNIX

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

namespace {

Fingerprint fingerprint_at(int dirfd, const QByteArray &name)
{
    Fingerprint print;
    struct stat st;
    if (::fstatat(dirfd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
        print.size = st.st_size;
        print.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        print.inode = st.st_ino;
    }
    return print;
}

} // namespace

Fingerprint fingerprint_of(const QString &path)
{
    return fingerprint_at(AT_FDCWD, QFile::encodeName(path));
}

Fingerprint Directory::fingerprint(const QString &name) const
{
    return fingerprint_at(m_fd, QFile::encodeName(name));
}

bool is_write_protected(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

#else

Directory::Directory(const QString &path) : m_path(path) {}

Directory::~Directory() = default;

Fingerprint Directory::fingerprint(const QString &name) const
{
    return fingerprint_of(QDir(m_path).filePath(name));
}

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

Fingerprint fingerprint_of(const QString &path)
{
    Fingerprint print;
    const QFileInfo info(path);
    if (info.isFile() && !info.isSymLink()) {
        print.size = info.size();
        print.modifiedNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
    }
    return print;
}

bool is_write_protected(const QString &path)
{
    return !QFileInfo(path).isWritable();
}

#endif

namespace {

bool write_through(QSaveFile &file, const QByteArray &bytes, QString *error)
{
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

} // namespace

bool save_file(const QString &path, const QByteArray &bytes, QString *error)
{
    const QFileInfo info(path);
    // The temporary name that QSaveFile may make beside the file adds a few
    // characters to its name; for a name near the longest allowed, write
    // under a short temporary name and put it in place in one rename.
    constexpr int kRoomForSuffix = 240;
    if (QFile::encodeName(info.fileName()).size() <= kRoomForSuffix) {
        QSaveFile file(path);
        return write_through(file, bytes, error);
    }
    static std::atomic<int> serial{0};
    const QString temporary = info.dir().filePath(
        QStringLiteral(".torvale-save-%1-%2.tmp").arg(QCoreApplication::applicationPid()).arg(++serial));
    QSaveFile file(temporary);
    if (!write_through(file, bytes, error))
        return false;
    if (info.exists())
        QFile::setPermissions(temporary, info.permissions());
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0) {
        *error = QStringLiteral("写入失败：%1").arg(describe_errno(errno));
        QFile::remove(temporary);
        return false;
    }
    return true;
}

} // namespace torvale
