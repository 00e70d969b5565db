#include "filewriter.h"

#include "sysio.h"

#include <QList>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace torvale {

using sysio::retry;

namespace {

const char kAccessAcl[] = "system.posix_acl_access";

// Copies the extended attributes of a file (its access control list among
// them, or only that one) to another. False, with errno set, when one that
// limits access could not be copied.
bool copy_attributes(int from, int to, bool onlyAcl = false)
{
    const ssize_t size = retry([&] { return ::flistxattr(from, nullptr, 0); });
    if (size <= 0)
        return size == 0 || errno == ENOTSUP;
    QByteArray names(size, Qt::Uninitialized);
    const ssize_t got = retry([&] { return ::flistxattr(from, names.data(), size_t(names.size())); });
    if (got < 0)
        return false;
    for (const QByteArray &name : names.left(got).split('\0')) {
        const bool acl = name.startsWith("system.posix_acl");
        if (name.isEmpty() || (onlyAcl && name != kAccessAcl))
            continue;
        QByteArray value(65536, Qt::Uninitialized);
        const ssize_t length =
            retry([&] { return ::fgetxattr(from, name.constData(), value.data(), size_t(value.size())); });
        const bool copied =
            length >= 0 && retry([&] {
                               return ::fsetxattr(to, name.constData(), value.constData(), size_t(length), 0);
                           }) == 0;
        if (!copied && acl)
            return false;
    }
    return true;
}

// Takes away the access control list a new file got from its folder's
// default one; false, with errno set, when it stays.
bool drop_inherited_acl(int fd)
{
    return retry([&] { return ::fremovexattr(fd, kAccessAcl); }) == 0 || errno == ENODATA ||
           errno == ENOTSUP || errno == EOPNOTSUPP;
}

QString kept_note(const QByteArray &swap)
{
    return QStringLiteral("另一个版本留在隐藏文件“%1”中，请查看后自行处理")
        .arg(FileName::from_bytes(swap).shown());
}

} // namespace

FileWriter::~FileWriter()
{
    abort();
}

bool FileWriter::begin(const Folder &folder, const QByteArray &name, const Stamp *replaces, QString *error,
                       const Entry *like)
{
    abort();
    m_leftover.clear();
    if (replaces && !(*error = folder.check_replaceable(name, *replaces)).isEmpty())
        return false;
    m_folder = &folder;
    m_name = name;
    m_like = like ? std::optional<Entry>(*like) : std::nullopt;
    m_replacedChanged = 0;
    m_replaces = replaces ? *replaces : Stamp();
    for (int attempt = 0; attempt < 16; ++attempt) {
        m_temporary = own_file_name(OwnFile::Write);
        m_fd = retry([&] {
            return ::openat(folder.handle(), m_temporary.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
        });
        if (m_fd >= 0 || errno != EEXIST)
            break;
    }
    struct stat st;
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
        *error = describe_errno(errno);
        if (m_fd >= 0) // made by this call a moment ago, with O_EXCL: ours
            ::unlinkat(folder.handle(), m_temporary.constData(), 0);
        m_temporary.clear();
        abort();
        return false;
    }
    m_ours = sysio::stamp_of(st);
    return true;
}

bool FileWriter::write_all(QByteArrayView bytes, QString *error)
{
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = retry([&] { return ::write(m_fd, data, size_t(left)); });
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

bool FileWriter::commit(QString *error, bool durable)
{
    return finish(error, durable) && publish(error);
}

// The permissions of the file replaced, exactly: owned as before where this
// run has the right to (as sed -i does); a new file, so set-user-ID and
// set-group-ID do not carry over. The temporary file took the folder's
// default access list when it was made: that goes, and the replaced file's
// own list (one that denies someone included) comes over. When the group
// cannot be kept, the group's rights are not handed to another group: the
// group bits, and so the list's mask, are cleared.
bool FileWriter::keep_permissions(int source, QString *error)
{
    struct stat before;
    if (retry([&] { return ::fstat(source, &before); }) != 0) {
        *error = describe_errno(errno);
        return false;
    }
    const Stamp stamp = sysio::stamp_of(before);
    if (!stamp.same_file(m_replaces)) {
        *error = kChangedDuringRun;
        return false;
    }
    m_replacedChanged = stamp.changedNs;
    const mode_t mode = before.st_mode & 0777;
    const bool owner = retry([&] { return ::fchown(m_fd, before.st_uid, before.st_gid); }) == 0;
    const bool group = owner || retry([&] { return ::fchown(m_fd, uid_t(-1), before.st_gid); }) == 0;
    if (!drop_inherited_acl(m_fd) || retry([&] { return ::fchmod(m_fd, mode); }) != 0 ||
        !copy_attributes(source, m_fd) ||
        (!group && retry([&] { return ::fchmod(m_fd, mode & ~mode_t(0070)); }) != 0)) {
        *error = QStringLiteral("无法保留文件的权限和访问控制列表（%1）").arg(describe_errno(errno));
        return false;
    }
    return true;
}

// A new file as private as the file it is made from (a page, of its text):
// its permission bits within the creation mask, and its access list
// instead of the folder's default one. When that file cannot be looked at,
// only its owner may read the new one.
bool FileWriter::take_permissions_of_like(QString *error)
{
    struct stat st;
    const int source =
        sysio::open_regular(m_folder->handle(), m_like->name.bytes, O_RDONLY | O_NONBLOCK, &st);
    const bool same = source >= 0 && sysio::stamp_of(st).same_file(m_like->stamp);
    const mode_t mode = same ? st.st_mode & 0666 & ~sysio::creation_mask() : 0600;
    const bool ok = drop_inherited_acl(m_fd) && (!same || copy_attributes(source, m_fd, true)) &&
                    retry([&] { return ::fchmod(m_fd, mode); }) == 0;
    const int saved = errno;
    if (source >= 0)
        ::close(source);
    if (!ok)
        *error = QStringLiteral("无法设置文件的权限（%1）").arg(describe_errno(saved));
    return ok;
}

bool FileWriter::finish(QString *error, bool durable, const FileReader *original)
{
    auto fail = [&] {
        abort();
        return false;
    };
    if (!flush(error))
        return fail();
    if (m_replaces.exists()) {
        struct stat st;
        const int source = original
                               ? original->handle()
                               : sysio::open_regular(m_folder->handle(), m_name, O_RDONLY | O_NONBLOCK, &st);
        if (source < 0) {
            *error = errno == ENODEV || errno == ENOENT ? kChangedDuringRun : describe_errno(errno);
            return fail();
        }
        const bool kept = keep_permissions(source, error);
        if (!original)
            ::close(source);
        if (!kept)
            return fail();
        // Written to while it was read, even keeping its size and time?
        if (original && m_replacedChanged != original->stamp().changedNs) {
            *error = kChangedDuringRun;
            return fail();
        }
    } else if (m_like) {
        if (!take_permissions_of_like(error))
            return fail();
    } else if (retry([&] { return ::fchmod(m_fd, 0666 & ~sysio::creation_mask()); }) != 0) {
        *error = describe_errno(errno);
        return fail();
    }
    struct stat ours;
    if ((durable && retry([&] { return ::fsync(m_fd); }) != 0) || ::fstat(m_fd, &ours) != 0) {
        *error = describe_errno(errno);
        return fail();
    }
    m_ours = sysio::stamp_of(ours);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        *error = describe_errno(errno);
        return fail();
    }
    return true;
}

bool FileWriter::sync(QString *error) const
{
    struct stat st;
    const int fd = sysio::open_regular(m_folder->handle(), m_temporary, O_RDONLY, &st);
    if (fd < 0) { // gone, or no longer a file: someone else's doing
        *error = errno == ENODEV || errno == ELOOP || errno == ENOENT ? kChangedDuringRun : describe_errno(errno);
        return false;
    }
    bool synced = sysio::stamp_of(st).same_inode(m_ours);
    if (!synced)
        *error = kChangedDuringRun;
    else if (!(synced = retry([&] { return ::fsync(fd); }) == 0))
        *error = describe_errno(errno);
    ::close(fd);
    return synced;
}

bool FileWriter::is_ours(const QByteArray &name) const
{
    Stamp s;
    QString error;
    return m_folder->look_up(name, &s, &error) && s.is_regular() && s.same_inode(m_ours);
}

bool FileWriter::publish(QString *error)
{
    m_leftover.clear();
    const bool published = m_replaces.exists() ? publish_replacing(error) : publish_new(error);
    if (!published)
        abort();
    m_temporary.clear();
    m_folder = nullptr;
    return published;
}

// A new entry: the name must be free, and what takes it must be the file
// written. When another file is moved onto the name just after, that file
// stays: it is not ours to remove.
bool FileWriter::publish_new(QString *error)
{
    if (!m_folder->rename(m_temporary, m_name, error))
        return false;
    m_temporary.clear();
    Stamp now;
    if (!m_folder->look_up(m_name, &now, error))
        return false;
    if (!now.is_regular() || !now.same_inode(m_ours)) {
        *error = kChangedDuringRun;
        return false;
    }
    return true;
}

// Checked, then swapped in one step, under a name that records both files
// (a run killed halfway is sorted out by the next one). The file that left
// must be the one planned, the one that came the one written. When a save
// lands in between, the person's newest version stays at the name, and only
// what is provably the planned version or ours is removed.
bool FileWriter::publish_replacing(QString *error)
{
    const int dir = m_folder->handle();
    Stamp now;
    if (!m_folder->look_up(m_name, &now, error))
        return false;
    // A change of permissions, owner or access list since they were taken,
    // or an edit that kept the file's time, shows in its change time.
    if (!now.same_file(m_replaces) || now.changedNs != m_replacedChanged || !is_ours(m_temporary)) {
        *error = kChangedDuringRun;
        if (!is_ours(m_temporary))
            m_temporary.clear(); // not ours to remove
        return false;
    }
    const QByteArray swap = SwapName::for_files(m_ours, m_replaces).bytes();
    if (!m_folder->rename(m_temporary, swap, error))
        return false;
    m_temporary = swap;
    const char *a = swap.constData(), *b = m_name.constData();
    if (retry([&] { return ::renameat2(dir, a, dir, b, RENAME_EXCHANGE); }) != 0) {
        if (errno != EINVAL && errno != ENOSYS) {
            *error = describe_errno(errno);
            return false;
        }
        // No swap on this file system: rename over the entry (a rename
        // replaces a link, it never writes through one), checked again as
        // late as can be.
        if (!m_folder->look_up(m_name, &now, error))
            return false;
        if (!now.same_file(m_replaces)) {
            *error = kChangedSincePlan;
            return false;
        }
        if (retry([&] { return ::renameat(dir, a, dir, b); }) != 0) {
            *error = describe_errno(errno);
            return false;
        }
        m_temporary.clear();
        return true;
    }
    m_temporary.clear(); // from here on, what is at the swap name is looked at
    Stamp at;
    QString lookError;
    if (!m_folder->look_up(m_name, &at, &lookError)) {
        // Unknown which file is where: both stay, and the next run, which
        // knows both by the swap name, sorts them out.
        *error = QStringLiteral("无法确认文件是否已替换（%1）").arg(lookError);
        m_leftover = kept_note(swap);
        return false;
    }
    const bool nameOurs = at.is_regular() && at.same_inode(m_ours);
    if (nameOurs && m_folder->stamp(swap).same_file(m_replaces)) {
        if (retry([&] { return ::unlinkat(dir, a, 0); }) != 0)
            m_leftover = QStringLiteral("原来的版本留在隐藏文件“%1”中（%2），下次操作时会删除")
                             .arg(FileName::from_bytes(swap).shown(), describe_errno(errno));
        return true;
    }
    // A save landed just before the swap (it is at the swap name now: it
    // goes back), or just after it (it is at the name: it stays).
    if (nameOurs)
        retry([&] { return ::renameat2(dir, a, dir, b, RENAME_EXCHANGE); });
    clear_swap(swap);
    *error = kChangedDuringRun;
    return false;
}

void FileWriter::clear_swap(const QByteArray &swap)
{
    Stamp s;
    QString error;
    if (!m_folder->look_up(swap, &s, &error)) {
        m_leftover = kept_note(swap);
        return;
    }
    if (!s.exists())
        return;
    if ((s.is_regular() && s.same_inode(m_ours)) || s.same_file(m_replaces)) {
        if (retry([&] { return ::unlinkat(m_folder->handle(), swap.constData(), 0); }) == 0)
            return;
    }
    m_leftover = kept_note(swap);
}

void FileWriter::abort()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_folder && !m_temporary.isEmpty() && is_ours(m_temporary))
        ::unlinkat(m_folder->handle(), m_temporary.constData(), 0);
    m_temporary.clear();
    m_buffer.clear();
    m_folder = nullptr;
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
               QString *error, bool durable, QString *leftover)
{
    FileWriter writer;
    const bool saved = writer.begin(folder, name, replaces, error) && writer.write(bytes, error) &&
                       writer.commit(error, durable);
    if (leftover)
        *leftover = writer.leftover();
    return saved;
}

} // namespace torvale
