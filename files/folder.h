#pragma once

#include "errors.h"
#include "filename.h"
#include "nativepath.h"
#include "ownfiles.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace torvale {

// What an entry of a folder is, and what tells whether it is still the one
// that was seen: a file that was changed, replaced, removed or given other
// permissions since has another stamp.
struct Stamp
{
    enum class Kind : quint8 { None, Regular, Directory, Link, Other };
    Kind kind = Kind::None;
    quint32 mode = 0;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    // When anything about the file last changed (its permissions, owner,
    // links...): not part of same_file, as a rename changes it too.
    qint64 changedNs = 0;

    bool exists() const { return kind != Kind::None; }
    bool is_regular() const { return kind == Kind::Regular; }
    // A file whose mode gives nobody the right to write it. Such a file is
    // left alone even by a run with the rights to override its mode.
    bool write_protected() const { return (mode & 0222) == 0; }
    // The same file, as it was: a chmod changes neither size nor time, so the
    // mode is compared too (a file made read-only since is not the one planned).
    bool same_file(const Stamp &o) const
    {
        return kind == o.kind && device == o.device && inode == o.inode && size == o.size &&
               modifiedNs == o.modifiedNs && mode == o.mode;
    }
    bool same_inode(const Stamp &o) const { return exists() && device == o.device && inode == o.inode; }
};

struct Entry
{
    FileName name;
    Stamp stamp; // for regular files; for the others only the kind

    bool hidden() const { return name.bytes.startsWith('.'); }
    // A file the operations work on: regular, not hidden.
    bool plain() const { return stamp.is_regular() && !hidden(); }
};

// The working folder, opened once and held: every listing, read, write and
// rename of a run is relative to this handle, so that swapping the folder
// (or a folder above it) for another or for a link changes nothing. Nothing
// is ever read or written through a symbolic link in it.
class Folder
{
public:
    // Opens the folder. With the guard, the root and the system's folders are
    // refused, judged by where the handle really leads. On failure returns
    // nothing and puts the reason, in Chinese, into *error.
    static std::shared_ptr<Folder> open(const NativePath &path, QString *error, bool guard = true);
    ~Folder();
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;

    // The folder's path as it was when opened, for messages, and as bytes.
    const QString &path() const { return m_path; }
    const QByteArray &native_path() const { return m_native; }
    // What tells the folder from another that takes its path later.
    std::pair<quint64, quint64> identity() const;
    // Where the folder really is now: its path, links resolved.
    QByteArray real_path() const;
    // When the folder was made (nanoseconds), where the file system keeps
    // it; 0 where it does not. A folder made later in the place of a
    // removed one may get its inode number again, never its birth.
    qint64 birth_ns() const;
    int handle() const { return m_fd; }

    // Why the run may not change files here: a folder whose mode lets nobody
    // write, or one this process may not write; empty when it may.
    QString check_writable() const;
    // The same for replacing one of its files, which must still be the file
    // planned: changed since (a chmod included), read-only, or not writable.
    QString check_replaceable(const QByteArray &name, const Stamp &planned) const;

    // Takes the folder for one run: a second run in the same folder (another
    // window, or a script) is refused while this one holds it.
    bool lock(QString *error) const;
    // The same, waiting for another holder to let go.
    bool lock_waiting(QString *error) const;
    void unlock() const;

    // Every entry but "." and "..", in the order the system gives them, the
    // folder read once. An entry that cannot be looked at (other than one
    // gone meanwhile) fails the listing, naming it.
    bool entries(std::vector<Entry> *into, QString *error) const;

    // The entry's stamp; an empty one when it does not exist or cannot be
    // looked at.
    Stamp stamp(const QByteArray &name) const;
    // The same, telling the two apart: false, with the reason, when the entry
    // could not be looked at; true with an empty stamp when it is not there.
    bool look_up(const QByteArray &name, Stamp *stamp, QString *error) const;

    // Renames an entry, failing instead of replacing an existing one. The old
    // name is gone when it returns true.
    bool rename(const QByteArray &from, const QByteArray &to, QString *error) const;

    // True when the entry is this user's to remove: the folder is not
    // shared with the sticky bit, or the entry belongs to this user (also
    // when running as root, who could remove anyone's).
    bool may_remove_unprivileged(const QByteArray &name) const;

    // Removes an entry, only while it is still the file that was seen.
    bool remove(const QByteArray &name, const Stamp &expected, QString *error) const;

    // A folder in this one, never reached through a link; with create, made
    // first (only this user may enter it) when it is missing. Nothing, with
    // the reason, when it cannot be opened.
    std::shared_ptr<Folder> open_folder(const QByteArray &name, bool create, QString *error) const;
    // Removes an entry and, for a folder, everything in it; never through a link.
    bool remove_tree(const QByteArray &name, QString *error) const;
    // The bytes this user may still write on the folder's file system, and
    // whether another folder is on the same one; -1 when unknown.
    qint64 free_space() const;
    bool same_file_system(const Folder &other) const;
    // The owner's rights only: a private folder of this user, checked and
    // made so (false when another user owns it; without change, only the
    // owner is checked).
    bool make_private(QString *error, bool change = true) const;

    // Makes the renames and removals so far durable.
    bool sync(QString *error) const;
    // Makes everything written to the folder's file system so far durable:
    // one flush for a whole batch of files.
    bool sync_all(QString *error) const;

private:
    Folder(int fd, const QString &path, const QByteArray &native) : m_fd(fd), m_path(path), m_native(native)
    {
    }
    // Whether a name is one of the folder's entries, byte for byte (a file
    // system that ignores letter case finds other spellings too).
    bool has_entry(const QByteArray &name, bool *has, QString *error) const;

    int m_fd = -1;
    QString m_path;
    QByteArray m_native;
};

// Holds a folder's lock for its lifetime.
class FolderLock
{
public:
    explicit FolderLock(const Folder *folder) : m_folder(folder) {}
    FolderLock(FolderLock &&o) noexcept : m_folder(o.m_folder) { o.m_folder = nullptr; }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;
    FolderLock &operator=(FolderLock &&) = delete;
    ~FolderLock()
    {
        if (m_folder)
            m_folder->unlock();
    }

    // Locks the folder; nothing, with the reason, when another run holds it
    // (or, waiting, when it cannot be locked).
    static std::optional<FolderLock> take(const Folder &folder, QString *error, bool wait = false)
    {
        if (!(wait ? folder.lock_waiting(error) : folder.lock(error)))
            return std::nullopt;
        return FolderLock(&folder);
    }

private:
    const Folder *m_folder;
};

} // namespace torvale
