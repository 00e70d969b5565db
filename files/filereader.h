#pragma once

#include "folder.h"

namespace torvale {

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
    bool rewind(QString *error = nullptr);
    // Whether the file is still as it was opened: not written to, even by an
    // edit that kept its size and time (its change time tells).
    bool unchanged(QString *error) const;
    // After a change of our own to the file's entry (a hard link to it made
    // elsewhere), what the file is to stay as from now on.
    void note_own_change();

private:
    int m_fd = -1;
    Stamp m_stamp;
};

// Reads a whole regular file of a folder.
bool read_file(const Folder &folder, const QByteArray &name, const Stamp *expected, QByteArray *bytes,
               QString *error);

} // namespace torvale
