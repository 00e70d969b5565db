#pragma once

#include "filename.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace torvale {

// A reason for a failed system call, in Chinese.
QString describe_errno(int code);

// What an entry of a folder is, and what tells whether it is still the one
// that was seen: a file that was changed, replaced or removed since has
// another stamp.
struct Stamp
{
    enum class Kind : quint8 { None, Regular, Directory, Link, Other };
    Kind kind = Kind::None;
    quint32 mode = 0;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;

    bool exists() const { return kind != Kind::None; }
    bool is_regular() const { return kind == Kind::Regular; }
    // A file whose mode gives nobody the right to write it. Such a file is
    // left alone even by a run with the rights to override its mode.
    bool write_protected() const { return (mode & 0222) == 0; }
    bool same_file(const Stamp &o) const
    {
        return kind == o.kind && device == o.device && inode == o.inode && size == o.size &&
               modifiedNs == o.modifiedNs;
    }
};

struct Entry
{
    FileName name;
    Stamp stamp; // for regular files; for the others only the kind

    bool hidden() const { return name.bytes.startsWith('.'); }
    // A file the operations work on: regular, not hidden.
    bool plain() const { return stamp.is_regular() && !hidden(); }
};

// Names of the program's own files in a user's folder. All are hidden, and
// each kind has a pattern of its own that a user's file is unlikely to match.
enum class OwnFile {
    Write,  // a file being written, renamed over its target when whole
    Parking // a file waiting for its new name during a rename
};
QByteArray own_file_name(OwnFile kind);
bool is_own_file_name(QByteArrayView name, OwnFile kind);

// The name a new version takes just before it is swapped with the file it
// replaces. It records both files, so that what a run killed between the
// swap and its check left behind can be told apart by the next run: the new
// version never put in place, the planned file swapped out, or a file
// changed meanwhile, which may be the user's only copy of a change. A random
// part makes the name impossible to take beforehand.
struct SwapName
{
    struct Identity
    {
        quint64 inode = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        bool matches(const Stamp &s) const
        {
            return s.is_regular() && s.inode == inode && s.size == size && s.modifiedNs == modifiedNs;
        }
    };
    Identity ours;    // the new version
    Identity planned; // the file it replaces
    quint64 nonce = 0;

    static SwapName for_files(const Stamp &ours, const Stamp &planned);
    QByteArray bytes() const;
    static std::optional<SwapName> parse(QByteArrayView name);
};

// A path as the system takes it: bytes. Made from text (as Qt gives paths)
// or from the bytes of a command-line argument, which may not be UTF-8.
struct NativePath
{
    NativePath() = default;
    // Qt shows a name that is not UTF-8 with U+FFFD in place of its bad
    // bytes; such a path is found again by its bytes, folder by folder, and
    // refused (error) when it could stand for more than one folder.
    NativePath(const QString &path);
    NativePath(const char *path) : bytes(path) {}
    NativePath(const QByteArray &path) : bytes(path) {}
    QByteArray bytes;
    QString error;
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
    int handle() const { return m_fd; }

    // Why the run may not change files here: a folder whose mode lets nobody
    // write, or one this process may not write; empty when it may.
    QString check_writable() const;
    // The same for replacing one of its files (with the stamp it has).
    QString check_replaceable(const QByteArray &name, const Stamp &stamp) const;

    // Takes the folder for one run: a second run in the same folder (another
    // window, or a script) is refused while this one holds it.
    bool lock(QString *error) const;
    void unlock() const;

    // Every entry but "." and "..", in the order the system gives them.
    bool entries(std::vector<Entry> *into, QString *error) const;

    Stamp stamp(const QByteArray &name) const;

    // Renames an entry, failing instead of replacing an existing one.
    bool rename(const QByteArray &from, const QByteArray &to, QString *error) const;

    // True when the entry is this user's to remove: the folder is not
    // shared with the sticky bit, or the entry belongs to this user (also
    // when running as root, who could remove anyone's).
    bool may_remove_unprivileged(const QByteArray &name) const;

    // Removes an entry, only while it is still the file that was seen.
    bool remove(const QByteArray &name, const Stamp &expected, QString *error) const;

    // Makes the renames and removals so far durable.
    bool sync(QString *error) const;
    // Makes everything written to the folder's file system so far durable:
    // one flush for a whole batch of files.
    bool sync_all(QString *error) const;

private:
    Folder(int fd, const QString &path, const QByteArray &native) : m_fd(fd), m_path(path), m_native(native)
    {
    }

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

    // Locks the folder; nothing, with the reason, when another run holds it.
    static std::optional<FolderLock> take(const Folder &folder, QString *error)
    {
        if (!folder.lock(error))
            return std::nullopt;
        return FolderLock(&folder);
    }

private:
    const Folder *m_folder;
};

// Why a file was left alone: it is no longer as it was planned.
extern const QString kChangedSincePlan;

// Reads a regular file of a folder; opens no link, FIFO or device.
class FileReader
{
public:
    FileReader() = default;
    ~FileReader();
    FileReader(const FileReader &) = delete;
    FileReader &operator=(const FileReader &) = delete;

    // With expected, fails unless the file is still the one that was seen.
    bool open(const Folder &folder, const QByteArray &name, const Stamp *expected, QString *error);
    const Stamp &stamp() const { return m_stamp; }
    int handle() const { return m_fd; }
    // Appends at most `most` bytes; returns how many, 0 at the end, -1 on error.
    qsizetype read_some(QByteArray &into, qsizetype most, QString *error);
    // Appends everything up to the end of the file.
    bool read_rest(QByteArray &into, QString *error);
    bool rewind();

private:
    int m_fd = -1;
    Stamp m_stamp;
};

// Writes a new version of an entry of a folder, atomically: the bytes go into
// a hidden temporary file in the folder; every write, the flush to disk and
// the close are checked; only then the temporary file is renamed over the
// entry (a rename replaces a link, it never writes through one). On any
// failure, or when the writer is dropped before commit, the temporary file is
// removed and the entry keeps its old bytes.
class FileWriter
{
public:
    FileWriter() = default;
    ~FileWriter();
    FileWriter(const FileWriter &) = delete;
    FileWriter &operator=(const FileWriter &) = delete;

    // With replaces, the entry must be that regular file when the new version
    // takes its place (same file, not changed since); the new version keeps
    // its owner, group and mode (without set-user-ID and set-group-ID). A
    // file that nobody may write is refused. Without replaces, the entry must
    // not exist.
    bool begin(const Folder &folder, const QByteArray &name, const Stamp *replaces, QString *error);
    bool write(QByteArrayView bytes, QString *error);
    // durable: flushed to disk before it takes the entry's place.
    bool commit(QString *error, bool durable = true);
    // The two halves of commit, for a batch of files made durable at once
    // (Folder::sync_all) between them: the new version complete and closed,
    // then put in place.
    // original: the file replaced, open already (saves opening it again).
    bool finish(QString *error, bool durable, const FileReader *original = nullptr);
    bool publish(QString *error);
    void abort();

private:
    bool write_all(QByteArrayView bytes, QString *error);
    bool flush(QString *error);

    const Folder *m_folder = nullptr;
    QByteArray m_name;
    QByteArray m_temporary;
    Stamp m_replaces;
    Stamp m_ours; // the new version, once finished
    int m_fd = -1;
    QByteArray m_buffer;
};

// Reads a whole regular file of a folder.
bool read_file(const Folder &folder, const QByteArray &name, const Stamp *expected, QByteArray *bytes,
               QString *error);

// Copies a regular file of one folder to a new file of another, a piece at a
// time (not made durable: for copies that live as long as the program).
bool copy_file(const Folder &from, const QByteArray &name, const Stamp *expected, const Folder &to,
               const QByteArray &copy, QString *error);

// Writes a whole file through a FileWriter.
bool save_file(const Folder &folder, const QByteArray &name, const Stamp *replaces, QByteArrayView bytes,
               QString *error, bool durable = true);

} // namespace torvale
