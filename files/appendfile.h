#pragma once

#include "folder.h"

namespace torvale {

// A new file of a folder that grows by whole records, each made durable
// before the caller goes on: what a killed program left is every record but
// perhaps a last, unfinished one (which a reader drops).
class AppendFile
{
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile &) = delete;
    AppendFile &operator=(const AppendFile &) = delete;

    // Makes the file, which must not exist, private to this user.
    bool create(const Folder &folder, const QByteArray &name, QString *error);
    // Opens a file that is there (never through a link), to add to it.
    bool open(const Folder &folder, const QByteArray &name, QString *error);
    // Adds the bytes at the end (after a line end, when a killed program
    // left the last line cut short) and, with durable, flushes them to disk.
    bool append(QByteArrayView bytes, QString *error, bool durable = true);

private:
    bool append_bytes(QByteArrayView bytes, QString *error, bool durable);

    int m_fd = -1;
};

} // namespace torvale
