#pragma once

#include "filereader.h"
#include "folder.h"

#include <optional>

namespace torvale {

// Writes a new version of an entry of a folder, atomically: the bytes go into
// a hidden temporary file in the folder; every write, the flush to disk and
// the close are checked; only then the temporary file takes the entry's
// place (a rename replaces a link, it never writes through one). On any
// failure, or when the writer is dropped before it is published, the
// temporary file is removed and the entry keeps its old bytes. Nothing that
// is not provably the program's own is ever removed.
class FileWriter
{
public:
    FileWriter() = default;
    ~FileWriter();
    FileWriter(const FileWriter &) = delete;
    FileWriter &operator=(const FileWriter &) = delete;

    // With replaces, the entry must be that regular file when the new version
    // takes its place (same file, not changed since, its mode included); the
    // new version gets exactly its permissions: owner, group, mode (without
    // set-user-ID and set-group-ID) and access control list, or none when it
    // had none. A file that nobody may write is refused. Without replaces,
    // the entry must not exist; the new file gets the permissions of the file
    // `like` (its permission bits within the process's creation mask, and
    // its access control list instead of the folder's default one), or the
    // usual ones of a new file.
    bool begin(const Folder &folder, const QByteArray &name, const Stamp *replaces, QString *error,
               const Entry *like = nullptr);
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
    // Makes the finished new version durable on its own: for a batch of a
    // few files, cheaper than flushing the whole file system.
    bool sync(QString *error) const;

    // What a publish left in the folder besides the file (the former version
    // that could not be removed, say), for the person to know; usually empty.
    const QString &leftover() const { return m_leftover; }
    // The new version, once finished.
    const Stamp &new_stamp() const { return m_ours; }

private:
    bool write_all(QByteArrayView bytes, QString *error);
    bool flush(QString *error);
    bool keep_permissions(int source, QString *error);
    bool take_permissions_of_like(QString *error);
    bool publish_new(QString *error);
    bool publish_replacing(QString *error);
    // Whether the entry is the new version; false also when it cannot be told.
    bool is_ours(const QByteArray &name) const;
    // Removes an entry that is ours or the planned file, else keeps and names it.
    void clear_swap(const QByteArray &swap);

    const Folder *m_folder = nullptr;
    QByteArray m_name;
    QByteArray m_temporary;
    std::optional<Entry> m_like;
    qint64 m_replacedChanged = 0; // the replaced file's change time when its permissions were taken
    Stamp m_replaces;
    Stamp m_ours; // the new version
    int m_fd = -1;
    QByteArray m_buffer;
    QString m_leftover;
};

// Copies a regular file of one folder to a new file of another, a piece at a
// time (not made durable: for copies that live as long as the program).
bool copy_file(const Folder &from, const QByteArray &name, const Stamp *expected, const Folder &to,
               const QByteArray &copy, QString *error);

// Writes a whole file through a FileWriter; what the write left behind (see
// FileWriter::leftover) goes into *leftover.
bool save_file(const Folder &folder, const QByteArray &name, const Stamp *replaces, QByteArrayView bytes,
               QString *error, bool durable = true, QString *leftover = nullptr);

} // namespace torvale
