#include "folder.h"

#include "sysio.h"
#include "workdir.h"

#include <QFile>

#include <climits>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace torvale {

using sysio::retry;

namespace {

// The path that an open handle really leads to.
QByteArray real_path_of(int fd, const QByteArray &given)
{
    char buffer[4096];
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t n = ::readlink(link.constData(), buffer, sizeof buffer - 1);
    if (n > 0 && buffer[0] == '/')
        return QByteArray(buffer, int(n));
    char resolved[PATH_MAX];
    return ::realpath(given.constData(), resolved) ? QByteArray(resolved) : QByteArray();
}

Stamp::Kind kind_of(unsigned char type)
{
    switch (type) {
    case DT_REG:
        return Stamp::Kind::Regular;
    case DT_DIR:
        return Stamp::Kind::Directory;
    case DT_LNK:
        return Stamp::Kind::Link;
    default:
        return Stamp::Kind::Other;
    }
}

// Reads a folder from its start, once, through a handle of its own (the
// held one keeps its place); each name is handed over with its type.
template <typename Take> bool read_folder(int folder, const Take &take, int *error)
{
    const int fd = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    DIR *dir = fd < 0 || ::lseek(fd, 0, SEEK_SET) != 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        *error = errno;
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent *e = ::readdir(dir);
        if (!e)
            break;
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            take(e);
    }
    *error = errno;
    ::closedir(dir);
    return *error == 0;
}

} // namespace

std::shared_ptr<Folder> Folder::open(const NativePath &native, QString *error, bool guard)
{
    if (!native.error.isEmpty()) {
        *error = native.error;
        return nullptr;
    }
    const QByteArray &path = native.bytes;
    const QString shown = FileName::from_bytes(path).text();
    const int fd = retry([&] { return ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0) {
        *error = QStringLiteral("无法打开文件夹“%1”：%2")
                     .arg(shown, errno == ENOENT ? QStringLiteral("文件夹不存在") : describe_errno(errno));
        return nullptr;
    }
    if (guard) {
        // Judged by where the handle leads, so that neither a link nor a
        // folder swapped after the check can lead a run into a system folder;
        // a system folder mounted elsewhere is known by its identity.
        const QByteArray real = real_path_of(fd, path);
        QString folder = real.isEmpty() ? QStringLiteral("/") : protected_folder_of(QFile::decodeName(real));
        struct stat here, system;
        for (const QString &root : protected_folders()) {
            if (folder.isEmpty() && ::fstat(fd, &here) == 0 &&
                ::stat(QFile::encodeName(root).constData(), &system) == 0 && here.st_dev == system.st_dev &&
                here.st_ino == system.st_ino)
                folder = root;
        }
        if (!folder.isEmpty()) {
            ::close(fd);
            *error = protected_folder_message(folder);
            return nullptr;
        }
    }
    return std::shared_ptr<Folder>(new Folder(fd, shown, path));
}

Folder::~Folder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QByteArray Folder::real_path() const
{
    return real_path_of(m_fd, m_native);
}

qint64 Folder::birth_ns() const
{
    struct statx st;
    if (::statx(m_fd, "", AT_EMPTY_PATH, STATX_BTIME, &st) != 0 || !(st.stx_mask & STATX_BTIME))
        return 0;
    return qint64(st.stx_btime.tv_sec) * 1000000000 + st.stx_btime.tv_nsec;
}

std::pair<quint64, quint64> Folder::identity() const
{
    struct stat st;
    if (::fstat(m_fd, &st) != 0)
        return {0, 0};
    return {st.st_dev, st.st_ino};
}

QString Folder::check_writable() const
{
    struct stat st;
    if (retry([&] { return ::fstat(m_fd, &st); }) != 0)
        return QStringLiteral("无法读取文件夹“%1”的信息：%2。没有文件被改动。")
            .arg(m_path, describe_errno(errno));
    if ((st.st_mode & 0222) == 0)
        return QStringLiteral("文件夹“%1”是只读的（权限不允许任何人改动），没有文件被改动。").arg(m_path);
    if (retry([&] { return ::faccessat(m_fd, ".", W_OK, AT_EACCESS); }) != 0)
        return QStringLiteral("不能改动文件夹“%1”中的文件：%2。没有文件被改动。")
            .arg(m_path, describe_errno(errno));
    return {};
}

QString Folder::check_replaceable(const QByteArray &name, const Stamp &planned) const
{
    Stamp now;
    QString error;
    if (!look_up(name, &now, &error))
        return error;
    if (!now.same_file(planned))
        return kChangedSincePlan;
    if (now.write_protected())
        return QStringLiteral("文件是只读的");
    if (retry([&] { return ::faccessat(m_fd, name.constData(), W_OK, AT_EACCESS); }) != 0)
        return describe_errno(errno);
    return {};
}

bool Folder::lock_waiting(QString *error) const
{
    if (retry([&] { return ::flock(m_fd, LOCK_EX); }) == 0 || errno == EOPNOTSUPP || errno == ENOLCK)
        return true;
    *error = describe_errno(errno);
    return false;
}

void Folder::unlock() const
{
    ::flock(m_fd, LOCK_UN);
}

bool Folder::lock(QString *error) const
{
    if (retry([&] { return ::flock(m_fd, LOCK_EX | LOCK_NB); }) == 0 || errno == EOPNOTSUPP ||
        errno == ENOLCK)
        return true; // (a file system without locks: nothing to hold)
    if (errno == EWOULDBLOCK)
        *error = QStringLiteral(
            "另一个 Torvale "
            "操作（另一个窗口或命令行）正在处理这个文件夹，请等它结束后再试。没有文件被改动。");
    else
        *error = QStringLiteral("无法锁定文件夹：%1。没有文件被改动。").arg(describe_errno(errno));
    return false;
}

bool Folder::entries(std::vector<Entry> *into, QString *error) const
{
    // The names first, packed (name, NUL, type), so that a folder of a
    // million names takes room for its entries once, not twice over while
    // the list grows.
    QByteArray names;
    qsizetype count = 0;
    int readError = 0;
    const bool read = read_folder(
        m_fd,
        [&](const dirent *e) {
            names.append(e->d_name, qsizetype(std::strlen(e->d_name)) + 1).append(char(e->d_type));
            ++count;
        },
        &readError);
    if (!read) {
        *error = QStringLiteral("无法读取文件夹“%1”：%2").arg(m_path, describe_errno(readError));
        return false;
    }
    into->reserve(into->size() + size_t(count));
    for (qsizetype at = 0; at < names.size();) {
        const char *name = names.constData() + at;
        const qsizetype length = qsizetype(std::strlen(name));
        const unsigned char type = uchar(names[at + length + 1]);
        at += length + 2;
        Entry entry;
        entry.name = FileName::from_bytes(QByteArray(name, length));
        // Regular files need their stamp; for the others the kind is enough.
        if (type == DT_REG || type == DT_UNKNOWN) {
            struct stat st;
            if (sysio::stat_at(m_fd, name, &st) != 0) {
                if (errno == ENOENT)
                    continue; // gone since
                *error = QStringLiteral("无法读取文件夹“%1”中“%2”的信息：%3")
                             .arg(m_path, entry.name.shown(), describe_errno(errno));
                return false;
            }
            entry.stamp = sysio::stamp_of(st);
        } else {
            entry.stamp.kind = kind_of(type);
        }
        into->push_back(std::move(entry));
    }
    return true;
}

bool Folder::look_up(const QByteArray &name, Stamp *stamp, QString *error) const
{
    struct stat st;
    if (sysio::stat_at(m_fd, name.constData(), &st) == 0) {
        *stamp = sysio::stamp_of(st);
        return true;
    }
    *stamp = Stamp();
    if (errno == ENOENT)
        return true;
    *error = describe_errno(errno);
    return false;
}

Stamp Folder::stamp(const QByteArray &name) const
{
    Stamp s;
    QString error;
    look_up(name, &s, &error);
    return s;
}

bool Folder::has_entry(const QByteArray &name, bool *has, QString *error) const
{
    *has = false;
    int readError = 0;
    if (read_folder(
            m_fd, [&](const dirent *e) { *has = *has || name == e->d_name; }, &readError))
        return true;
    *error = describe_errno(readError);
    return false;
}

bool Folder::rename(const QByteArray &from, const QByteArray &to, QString *error) const
{
    const char *a = from.constData(), *b = to.constData();
    if (retry([&] { return ::renameat2(m_fd, a, m_fd, b, RENAME_NOREPLACE); }) == 0)
        return true;
    int err = errno;
    if (err == EEXIST && stamp(from).same_inode(stamp(to))) {
        // The new name finds the same file. On a file system that ignores
        // letter case it is the same entry, spelt otherwise, and a plain
        // rename changes the spelling; but two hard links of one file are two
        // entries, and a rename between them would do nothing at all.
        bool separate = true, stays = true;
        if (!has_entry(to, &separate, error))
            return false;
        if (!separate) {
            if (retry([&] { return ::renameat(m_fd, a, m_fd, b); }) != 0)
                err = errno;
            else if (!has_entry(from, &stays, error))
                return false;
            else if (!stays)
                return true;
        }
    } else if (err == EINVAL || err == ENOSYS) {
        // No atomic no-replace rename here: a hard link never replaces
        // anything; the old name goes once the new one is there.
        if (retry([&] { return ::linkat(m_fd, a, m_fd, b, 0); }) == 0) {
            if (retry([&] { return ::unlinkat(m_fd, a, 0); }) == 0)
                return true;
            err = errno;
            ::unlinkat(m_fd, b, 0);
        } else {
            err = errno;
        }
    }
    *error = describe_errno(err);
    return false;
}

bool Folder::may_remove_unprivileged(const QByteArray &name) const
{
    struct stat folder, entry;
    if (::fstat(m_fd, &folder) != 0 || sysio::stat_at(m_fd, name.constData(), &entry) != 0)
        return false;
    return !(folder.st_mode & S_ISVTX) || entry.st_uid == ::geteuid();
}

bool Folder::remove(const QByteArray &name, const Stamp &expected, QString *error) const
{
    Stamp now;
    if (!look_up(name, &now, error))
        return false;
    if (!now.same_file(expected)) {
        *error = QStringLiteral("已被改动、改名或删除");
        return false;
    }
    if (retry([&] { return ::unlinkat(m_fd, name.constData(), 0); }) != 0) {
        *error = describe_errno(errno);
        return false;
    }
    return true;
}

std::shared_ptr<Folder> Folder::open_folder(const QByteArray &name, bool create, QString *error) const
{
    auto open = [&] {
        return retry([&] {
            return ::openat(m_fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        });
    };
    int fd = open();
    if (fd < 0 && errno == ENOENT && create &&
        (retry([&] { return ::mkdirat(m_fd, name.constData(), 0700); }) == 0 || errno == EEXIST))
        fd = open();
    if (fd < 0) {
        *error = QStringLiteral("无法打开文件夹“%1/%2”：%3")
                     .arg(m_path, FileName::from_bytes(name).shown(),
                          errno == ELOOP ? QStringLiteral("这是一个符号链接") : describe_errno(errno));
        return nullptr;
    }
    return std::shared_ptr<Folder>(
        new Folder(fd, m_path + QLatin1Char('/') + FileName::from_bytes(name).text(), m_native + '/' + name));
}

bool Folder::remove_tree(const QByteArray &name, QString *error) const
{
    struct stat st;
    if (sysio::stat_at(m_fd, name.constData(), &st) != 0)
        return errno == ENOENT || (*error = describe_errno(errno), false);
    if (S_ISDIR(st.st_mode)) {
        const std::shared_ptr<Folder> folder = open_folder(name, false, error);
        std::vector<Entry> entries;
        if (!folder || !folder->entries(&entries, error))
            return false;
        for (const Entry &e : entries) {
            if (!folder->remove_tree(e.name.bytes, error))
                return false;
        }
    }
    if (retry([&] { return ::unlinkat(m_fd, name.constData(), S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0); }) !=
            0 &&
        errno != ENOENT) {
        *error = describe_errno(errno);
        return false;
    }
    return true;
}

qint64 Folder::free_space() const
{
    struct statvfs vfs;
    if (retry([&] { return ::fstatvfs(m_fd, &vfs); }) != 0)
        return -1;
    return qint64(vfs.f_bavail) * qint64(vfs.f_frsize);
}

bool Folder::same_file_system(const Folder &other) const
{
    struct stat a, b;
    return ::fstat(m_fd, &a) == 0 && ::fstat(other.m_fd, &b) == 0 && a.st_dev == b.st_dev;
}

bool Folder::make_private(QString *error, bool change) const
{
    struct stat st;
    if (retry([&] { return ::fstat(m_fd, &st); }) != 0) {
        *error = describe_errno(errno);
        return false;
    }
    if (st.st_uid != ::geteuid()) {
        *error = QStringLiteral("文件夹“%1”属于另一个用户").arg(m_path);
        return false;
    }
    if (change && (st.st_mode & 077) != 0 && retry([&] { return ::fchmod(m_fd, 0700); }) != 0) {
        *error = describe_errno(errno);
        return false;
    }
    return true;
}

bool Folder::sync(QString *error) const
{
    if (retry([&] { return ::fsync(m_fd); }) == 0 || errno == EINVAL)
        return true;
    *error = describe_errno(errno);
    return false;
}

bool Folder::sync_all(QString *error) const
{
    if (retry([&] { return ::syncfs(m_fd); }) == 0)
        return true;
    *error = describe_errno(errno);
    return false;
}

} // namespace torvale
