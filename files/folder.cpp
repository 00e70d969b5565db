#include "folder.h"

#include "workdir.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

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
    case ENOTEMPTY:
        return QStringLiteral("目标名称已被占用");
    case EROFS:
        return QStringLiteral("文件系统是只读的");
    case ENOSPC:
        return QStringLiteral("磁盘已满");
    case EDQUOT:
        return QStringLiteral("磁盘配额已用完");
    case EFBIG:
        return QStringLiteral("文件太大");
    case ENAMETOOLONG:
        return QStringLiteral("文件名太长");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("文件正被使用");
    case EISDIR:
        return QStringLiteral("这是一个文件夹");
    case ELOOP:
        return QStringLiteral("这是一个符号链接");
    case EIO:
        return QStringLiteral("磁盘读写出错");
    case ENOTDIR:
        return QStringLiteral("不是文件夹");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("同时打开的文件太多");
    case ENOMEM:
        return QStringLiteral("内存不足");
    case EOPNOTSUPP:
        return QStringLiteral("文件系统不支持这个操作");
    case EXDEV:
        return QStringLiteral("不在同一个文件系统上");
    case ESTALE:
        return QStringLiteral("网络文件系统上的文件已失效");
    case ENOTCONN:
    case ETIMEDOUT:
    case EHOSTDOWN:
    case EHOSTUNREACH:
        return QStringLiteral("网络连接中断");
    case EAGAIN:
        return QStringLiteral("暂时无法完成，请稍后再试");
    default:
        return QStringLiteral("系统错误（编号 %1：%2）")
            .arg(code)
            .arg(QString::fromLocal8Bit(std::strerror(code)));
    }
}

namespace {

const char *const kOwnPrefixes[] = {".torvale-write-", ".torvale-rename-"};
constexpr int kOwnDigits = 16;
const char kOwnSuffix[] = ".tmp";

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
    return s;
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

// The process's file creation mask, read without changing it.
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

// Opens a regular file of the folder without ever opening anything else: the
// entry is first taken by a path handle (which opens nothing, so a FIFO or a
// device is never woken), checked, and then opened through that handle, which
// reaches exactly the same file. -1 with errno set when it cannot; ENODEV for
// an entry that is not a regular file.
int open_regular(int dirfd, const QByteArray &name, int flags, struct stat *st)
{
    const int path = ::openat(dirfd, name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (path < 0)
        return -1;
    int fd = -1;
    if (::fstat(path, st) == 0) {
        if (!S_ISREG(st->st_mode)) {
            errno = ENODEV;
        } else {
            // Through the handle's /proc entry the very same file opens.
            const QByteArray proc = "/proc/self/fd/" + QByteArray::number(path);
            fd = ::open(proc.constData(), flags | O_NOCTTY | O_CLOEXEC);
            if (fd < 0 && errno == ENOENT) { // no /proc: open by name, and compare
                fd =
                    ::openat(dirfd, name.constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
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

} // namespace

namespace {
bool is_lower_hex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}
} // namespace

QByteArray own_file_name(OwnFile kind)
{
    return kOwnPrefixes[int(kind)] +
           QByteArray::number(QRandomGenerator::global()->generate64(), 16).rightJustified(kOwnDigits, '0') +
           kOwnSuffix;
}

bool is_own_file_name(QByteArrayView name, OwnFile kind)
{
    const QByteArrayView prefix(kOwnPrefixes[int(kind)]);
    if (name.size() != prefix.size() + kOwnDigits + qsizetype(sizeof kOwnSuffix - 1) ||
        !name.startsWith(prefix) || !name.endsWith(kOwnSuffix))
        return false;
    const QByteArrayView digits = name.sliced(prefix.size(), kOwnDigits);
    return std::all_of(digits.begin(), digits.end(), is_lower_hex);
}

namespace {
const QByteArray kSwapPrefix = QByteArrayLiteral(".torvale-swap-");
constexpr int kSwapFields = 7;
} // namespace

SwapName SwapName::for_files(const Stamp &ours, const Stamp &planned)
{
    return {{ours.inode, ours.size, ours.modifiedNs},
            {planned.inode, planned.size, planned.modifiedNs},
            QRandomGenerator::global()->generate64()};
}

QByteArray SwapName::bytes() const
{
    QByteArray name = kSwapPrefix;
    for (const quint64 field : {ours.inode, quint64(ours.size), quint64(ours.modifiedNs), planned.inode,
                                quint64(planned.size), quint64(planned.modifiedNs), nonce})
        name += QByteArray::number(field, 16).rightJustified(kOwnDigits, '0');
    return name + kOwnSuffix;
}

std::optional<SwapName> SwapName::parse(QByteArrayView name)
{
    const qsizetype digits = kSwapFields * kOwnDigits;
    if (name.size() != kSwapPrefix.size() + digits + qsizetype(sizeof kOwnSuffix - 1) ||
        !name.startsWith(kSwapPrefix) || !name.endsWith(kOwnSuffix))
        return std::nullopt;
    quint64 f[kSwapFields];
    for (int i = 0; i < kSwapFields; ++i) {
        const QByteArrayView hex = name.sliced(kSwapPrefix.size() + i * kOwnDigits, kOwnDigits);
        if (!std::all_of(hex.begin(), hex.end(), is_lower_hex))
            return std::nullopt;
        f[i] = hex.toByteArray().toULongLong(nullptr, 16);
    }
    return SwapName{{f[0], qint64(f[1]), qint64(f[2])}, {f[3], qint64(f[4]), qint64(f[5])}, f[6]};
}

NativePath::NativePath(const QString &path) : bytes(QFile::encodeName(path))
{
    if (!path.contains(QChar::ReplacementCharacter))
        return;
    // Find each folder whose name Qt could not decode by its bytes.
    bytes.clear();
    const QStringList parts = path.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0)
            bytes += '/';
        if (!parts[i].contains(QChar::ReplacementCharacter)) {
            bytes += QFile::encodeName(parts[i]);
            continue;
        }
        QList<QByteArray> matches;
        if (DIR *dir = ::opendir(bytes.isEmpty() ? "." : bytes.constData())) {
            while (const dirent *e = ::readdir(dir)) {
                if (QFile::decodeName(e->d_name) == parts[i])
                    matches << QByteArray(e->d_name);
            }
            ::closedir(dir);
        }
        if (matches.size() != 1) {
            error =
                QStringLiteral(
                    "无法确定文件夹“%1”：它的名称不是 UTF-8 编码，窗口中可能有几个文件夹显示为同一个名称。"
                    "请用 torvale-cli，或者先把文件夹改名。")
                    .arg(path);
            return;
        }
        bytes += matches.constFirst();
    }
}

std::shared_ptr<Folder> Folder::open(const NativePath &native, QString *error, bool guard)
{
    if (!native.error.isEmpty()) {
        *error = native.error;
        return nullptr;
    }
    const QByteArray &path = native.bytes;
    const QString shown = FileName::from_bytes(path).text();
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
    if (::fstat(m_fd, &st) == 0 && (st.st_mode & 0222) == 0)
        return QStringLiteral("文件夹“%1”是只读的（权限不允许任何人改动），没有文件被改动。").arg(m_path);
    if (::faccessat(m_fd, ".", W_OK, AT_EACCESS) != 0)
        return QStringLiteral("不能改动文件夹“%1”中的文件：%2。没有文件被改动。")
            .arg(m_path, describe_errno(errno));
    return {};
}

QString Folder::check_replaceable(const QByteArray &name, const Stamp &stamp) const
{
    if (stamp.write_protected())
        return QStringLiteral("文件是只读的");
    if (::faccessat(m_fd, name.constData(), W_OK, AT_EACCESS) != 0)
        return describe_errno(errno);
    return {};
}

void Folder::unlock() const
{
    ::flock(m_fd, LOCK_UN);
}

Folder::~Folder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Folder::lock(QString *error) const
{
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0 || errno == EOPNOTSUPP || errno == ENOLCK)
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
    const int fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    DIR *dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        *error = QStringLiteral("无法读取文件夹“%1”：%2").arg(m_path, describe_errno(errno));
        return false;
    }
    // Counted first, so that a folder of a million names takes room for
    // them once rather than twice over while the list grows.
    qsizetype count = 0;
    for (::rewinddir(dir); ::readdir(dir);)
        ++count;
    into->reserve(into->size() + size_t(count) + 64);
    ::rewinddir(dir);
    for (;;) {
        errno = 0;
        const dirent *e = ::readdir(dir);
        if (!e)
            break;
        const QByteArrayView name(e->d_name);
        if (name == "." || name == "..")
            continue;
        Entry entry;
        entry.name = FileName::from_bytes(name.toByteArray());
        // Regular files need their stamp; for the others the kind is enough.
        if (e->d_type == DT_REG || e->d_type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(m_fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue; // gone since
            entry.stamp = stamp_of(st);
        } else {
            entry.stamp.kind = kind_of(e->d_type);
        }
        into->push_back(std::move(entry));
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0) {
        *error = QStringLiteral("无法读取文件夹“%1”：%2").arg(m_path, describe_errno(readError));
        return false;
    }
    return true;
}

Stamp Folder::stamp(const QByteArray &name) const
{
    struct stat st;
    if (::fstatat(m_fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return {};
    return stamp_of(st);
}

bool Folder::rename(const QByteArray &from, const QByteArray &to, QString *error) const
{
    if (::renameat2(m_fd, from.constData(), m_fd, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    int err = errno;
    if (err == EEXIST) {
        // Only the letter case changes, on a file system that ignores it.
        const Stamp a = stamp(from), b = stamp(to);
        if (a.exists() && a.device == b.device && a.inode == b.inode) {
            if (::renameat(m_fd, from.constData(), m_fd, to.constData()) == 0)
                return true;
            err = errno;
        }
    } else if (err == EINVAL || err == ENOSYS) {
        // No atomic no-replace rename here: a hard link never replaces
        // anything; the old name goes once the new one is there.
        if (::linkat(m_fd, from.constData(), m_fd, to.constData(), 0) == 0) {
            if (::unlinkat(m_fd, from.constData(), 0) == 0)
                return true;
            err = errno;
            ::unlinkat(m_fd, to.constData(), 0);
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
    if (::fstat(m_fd, &folder) != 0 || ::fstatat(m_fd, name.constData(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    const uid_t me = ::geteuid();
    return !(folder.st_mode & S_ISVTX) || entry.st_uid == me;
}

bool Folder::remove(const QByteArray &name, const Stamp &expected, QString *error) const
{
    if (!stamp(name).same_file(expected)) {
        *error = QStringLiteral("已被改动、改名或删除");
        return false;
    }
    if (::unlinkat(m_fd, name.constData(), 0) != 0) {
        *error = describe_errno(errno);
        return false;
    }
    return true;
}

bool Folder::sync(QString *error) const
{
    if (::fsync(m_fd) == 0 || errno == EINVAL)
        return true;
    *error = describe_errno(errno);
    return false;
}

bool Folder::sync_all(QString *error) const
{
    if (::syncfs(m_fd) == 0)
        return true;
    *error = describe_errno(errno);
    return false;
}

FileReader::~FileReader()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

const QString kChangedSincePlan = QStringLiteral("文件在计划之后已被改动或替换");

bool FileReader::open(const Folder &folder, const QByteArray &name, const Stamp *expected, QString *error)
{
    struct stat st;
    m_fd = open_regular(folder.handle(), name, O_RDONLY, &st);
    if (m_fd < 0) {
        *error = errno == ENODEV || errno == ELOOP ? QStringLiteral("不是普通文件") : describe_errno(errno);
        return false;
    }
    m_stamp = stamp_of(st);
    if (expected && !m_stamp.same_file(*expected)) {
        *error = kChangedSincePlan;
        return false;
    }
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

bool FileReader::read_rest(QByteArray &into, QString *error)
{
    if (m_stamp.size >= qint64(std::numeric_limits<qsizetype>::max() / 2)) {
        *error = QStringLiteral("文件太大");
        return false;
    }
    into.reserve(into.size() + qsizetype(m_stamp.size) + 1);
    // A file can grow or shrink while it is read: read until the end.
    for (;;) {
        const qsizetype want = qMax<qsizetype>(65536, qsizetype(m_stamp.size) + 1 - into.size());
        const qsizetype n = read_some(into, want, error);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
    }
}

bool FileReader::rewind()
{
    return ::lseek(m_fd, 0, SEEK_SET) == 0;
}

FileWriter::~FileWriter()
{
    abort();
}

bool FileWriter::begin(const Folder &folder, const QByteArray &name, const Stamp *replaces, QString *error)
{
    abort();
    if (replaces && !(*error = folder.check_replaceable(name, *replaces)).isEmpty())
        return false;
    m_folder = &folder;
    m_name = name;
    m_replaces = replaces ? *replaces : Stamp();
    for (int attempt = 0; attempt < 16; ++attempt) {
        m_temporary = own_file_name(OwnFile::Write);
        m_fd = ::openat(folder.handle(), m_temporary.constData(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
        if (m_fd >= 0 || errno != EEXIST)
            break;
    }
    if (m_fd < 0) {
        *error = describe_errno(errno);
        m_temporary.clear();
        return false;
    }
    return true;
}

bool FileWriter::write_all(QByteArrayView bytes, QString *error)
{
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = describe_errno(n < 0 ? errno : ENOSPC);
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

bool FileWriter::flush(QString *error)
{
    const bool ok = write_all(m_buffer, error);
    m_buffer.clear();
    return ok;
}

bool FileWriter::write(QByteArrayView bytes, QString *error)
{
    constexpr qsizetype kBufferSize = 1 << 20;
    bool ok = true;
    if (m_buffer.size() + bytes.size() <= kBufferSize)
        m_buffer.append(bytes);
    else
        ok = flush(error) && write_all(bytes, error);
    if (!ok)
        abort();
    return ok;
}

namespace {

// Copies the extended attributes of a file (its access control list among
// them) to another. False when one that limits access could not be copied.
bool copy_attributes(int from, int to)
{
    const ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size <= 0)
        return size == 0 || errno == ENOTSUP;
    QByteArray names(size, Qt::Uninitialized);
    const ssize_t got = ::flistxattr(from, names.data(), size_t(names.size()));
    for (const QByteArray &name : names.left(got < 0 ? 0 : got).split('\0')) {
        if (name.isEmpty())
            continue;
        QByteArray value(65536, Qt::Uninitialized);
        const ssize_t length = ::fgetxattr(from, name.constData(), value.data(), size_t(value.size()));
        const bool copied =
            length >= 0 && ::fsetxattr(to, name.constData(), value.constData(), size_t(length), 0) == 0;
        if (!copied && name.startsWith("system.posix_acl"))
            return false;
    }
    return true;
}

} // namespace

bool FileWriter::commit(QString *error, bool durable)
{
    return finish(error, durable) && publish(error);
}

bool FileWriter::finish(QString *error, bool durable, const FileReader *original)
{
    auto fail = [&](int code) {
        *error = describe_errno(code);
        abort();
        return false;
    };
    if (!flush(error)) {
        abort();
        return false;
    }
    const int dir = m_folder->handle();
    mode_t mode = 0666 & ~creation_mask();
    if (m_replaces.exists()) {
        // Owned as before, where this run has the right to (as sed -i does);
        // a new file, so set-user-ID and set-group-ID do not carry over. When
        // the group cannot be kept, the group's rights are not handed to
        // another group, and the access list (which names it) is not copied.
        struct stat before;
        const int source =
            original ? original->handle() : open_regular(dir, m_name, O_RDONLY | O_NONBLOCK, &before);
        const bool same = source >= 0 && (!original || ::fstat(source, &before) == 0) &&
                          quint64(before.st_ino) == m_replaces.inode &&
                          quint64(before.st_dev) == m_replaces.device;
        auto done_with_source = [&] {
            if (source >= 0 && !original)
                ::close(source);
        };
        if (!same) {
            *error = source < 0 && errno != ENODEV ? describe_errno(errno)
                                                   : QStringLiteral("文件在处理期间被改动或替换");
            done_with_source();
            abort();
            return false;
        }
        struct stat &original_stat = before;
        mode = original_stat.st_mode & 0777;
        const bool owner = ::fchown(m_fd, original_stat.st_uid, original_stat.st_gid) == 0;
        const bool group = owner || ::fchown(m_fd, uid_t(-1), original_stat.st_gid) == 0;
        if (!group)
            mode &= ~mode_t(0070);
        const bool copied = ::fchmod(m_fd, mode) == 0 && (!owner || copy_attributes(source, m_fd));
        done_with_source();
        if (!copied) {
            *error = QStringLiteral("无法保留文件的权限和访问控制列表");
            abort();
            return false;
        }
    } else if (::fchmod(m_fd, mode) != 0) {
        return fail(errno);
    }
    if (durable && ::fsync(m_fd) != 0)
        return fail(errno);
    struct stat ours;
    if (::fstat(m_fd, &ours) != 0)
        return fail(errno);
    m_ours = stamp_of(ours);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && errno != EINTR)
        return fail(errno);
    return true;
}

bool FileWriter::publish(QString *error)
{
    auto fail = [&](int code) {
        *error = describe_errno(code);
        abort();
        return false;
    };
    const int dir = m_folder->handle();
    auto is_ours = [&](const QByteArray &name) {
        const Stamp s = m_folder->stamp(name);
        return s.is_regular() && s.device == m_ours.device && s.inode == m_ours.inode;
    };
    const QString changed = QStringLiteral("文件在处理期间被改动或替换");
    if (!m_replaces.exists()) {
        // A new entry: it must not exist, and what takes the name must be
        // the file written (not something put in its place meanwhile).
        if (!m_folder->rename(m_temporary, m_name, error)) {
            abort();
            return false;
        }
        if (!is_ours(m_name)) {
            ::unlinkat(dir, m_name.constData(), 0);
            *error = changed;
            m_temporary.clear();
            m_folder = nullptr;
            return false;
        }
    } else {
        // Checked, then swapped in one step, under a name that records both
        // files (a run killed halfway is sorted out by the next one). The
        // file that left must be the one planned, the one that came the one
        // written; otherwise it is swapped back.
        if (!m_folder->stamp(m_name).same_file(m_replaces) || !is_ours(m_temporary)) {
            *error = changed;
            if (!is_ours(m_temporary))
                m_temporary.clear(); // not ours to remove
            abort();
            return false;
        }
        const QByteArray swap = SwapName::for_files(m_ours, m_replaces).bytes();
        if (!m_folder->rename(m_temporary, swap, error)) {
            abort();
            return false;
        }
        m_temporary = swap;
        if (::renameat2(dir, swap.constData(), dir, m_name.constData(), RENAME_EXCHANGE) == 0) {
            if (!m_folder->stamp(swap).same_file(m_replaces) || !is_ours(m_name)) {
                ::renameat2(dir, swap.constData(), dir, m_name.constData(), RENAME_EXCHANGE);
                *error = changed;
                if (!is_ours(swap))
                    m_temporary.clear(); // not ours to remove
                abort();
                return false;
            }
            ::unlinkat(dir, swap.constData(), 0); // the former version
        } else {
            // No swap on this file system: rename over the entry (a rename
            // replaces a link, it never writes through one).
            if (errno != EINVAL && errno != ENOSYS)
                return fail(errno);
            if (!m_folder->stamp(m_name).same_file(m_replaces)) {
                *error = changed; // checked again, as late as can be
                abort();
                return false;
            }
            if (::renameat(dir, swap.constData(), dir, m_name.constData()) != 0)
                return fail(errno);
        }
    }
    m_temporary.clear();
    m_folder = nullptr;
    return true;
}

void FileWriter::abort()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_folder && !m_temporary.isEmpty())
        ::unlinkat(m_folder->handle(), m_temporary.constData(), 0);
    m_temporary.clear();
    m_buffer.clear();
    m_folder = nullptr;
}

bool read_file(const Folder &folder, const QByteArray &name, const Stamp *expected, QByteArray *bytes,
               QString *error)
{
    FileReader reader;
    bytes->clear();
    return reader.open(folder, name, expected, error) && reader.read_rest(*bytes, error);
}

bool copy_file(const Folder &from, const QByteArray &name, const Stamp *expected, const Folder &to,
               const QByteArray &copy, QString *error)
{
    FileReader reader;
    FileWriter writer;
    if (!reader.open(from, name, expected, error) || !writer.begin(to, copy, nullptr, error))
        return false;
    QByteArray piece;
    for (qsizetype n; (n = reader.read_some(piece, 1 << 20, error)) != 0; piece.clear()) {
        if (n < 0 || !writer.write(piece, error))
            return false;
    }
    return writer.commit(error, false);
}

bool save_file(const Folder &folder, const QByteArray &name, const Stamp *replaces, QByteArrayView bytes,
               QString *error, bool durable)
{
    FileWriter writer;
    return writer.begin(folder, name, replaces, error) && writer.write(bytes, error) &&
           writer.commit(error, durable);
}

} // namespace torvale
