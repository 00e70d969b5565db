#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace torvale {

// Reads a whole regular file. Never follows a symbolic link and never opens a
// FIFO or device (so a run cannot hang on one). On failure returns false and
// puts the reason, in Chinese, into *error.
bool read_file(const QString &path, QByteArray *bytes, QString *error);

// Reads a regular file piece by piece; opens no link, FIFO or device.
class FileReader
{
public:
    FileReader() = default;
    ~FileReader();
    FileReader(const FileReader &) = delete;
    FileReader &operator=(const FileReader &) = delete;

    bool open(const QString &path, QString *error);
    qint64 size() const { return m_size; }
    // Appends at most `most` bytes; returns how many, 0 at the end, -1 on error.
    qsizetype read_some(QByteArray &into, qsizetype most, QString *error);
    // Appends everything up to the end of the file.
    bool read_rest(QByteArray &into, QString *error);
    bool rewind();

private:
    qint64 m_size = 0;
#ifdef Q_OS_UNIX
    int m_fd = -1;
#else
    QFile m_file;
#endif
};

// Replaces the file at path with the bytes, atomically: the bytes go into a
// temporary file beside it, which is renamed over the old one only when it is
// whole. An existing file keeps its permissions.
bool save_file(const QString &path, const QByteArray &bytes, QString *error);

// What tells whether a file is still the one that was written: a file that
// someone changed, replaced or removed since has another fingerprint.
struct Fingerprint
{
    qint64 size = -1; // -1: no regular file there
    qint64 modifiedNs = 0;
    quint64 inode = 0;
    bool operator==(const Fingerprint &o) const
    {
        return size == o.size && modifiedNs == o.modifiedNs && inode == o.inode;
    }
    bool operator!=(const Fingerprint &o) const { return !(*this == o); }
};
Fingerprint fingerprint_of(const QString &path);

// A directory held open while its files are renamed, so that each rename
// names its files relative to it (no path to walk again, and the same folder
// even if its path changes meanwhile).
class Directory
{
public:
    explicit Directory(const QString &path);
    ~Directory();
    Directory(const Directory &) = delete;
    Directory &operator=(const Directory &) = delete;

    // Renames an entry of the directory, failing instead of replacing an
    // existing entry at the new name.
    bool rename_no_replace(const QString &from, const QString &to, QString *error) const;

    // The fingerprint of an entry of the directory.
    Fingerprint fingerprint(const QString &name) const;

private:
    QString m_path;
    int m_fd = -1;
};

// True when the file's mode gives nobody the right to write it. Such a file is
// left alone even by a run with the rights to override its mode.
bool is_write_protected(const QString &path);


// A reason for a failed system call, in Chinese.
QString describe_errno(int code);

} // namespace torvale
