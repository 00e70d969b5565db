#pragma once

#include <QByteArray>
#include <QString>

namespace torvale {

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

} // namespace torvale
