#pragma once

#include <QString>
#include <QStringList>

namespace torvale {

// The working directory as a prefix for file names: the path with the
// separator at its end ("/home/me/docs/"; the root stays as it is).
QString with_trailing_separator(const QString &path);

// The directory an operation works in: the working directory, or the process's
// current directory while none has been chosen.
QString working_directory(const QString &CurrentPath);

// When the folder (a path with its links resolved) is the file system's root
// or lies in a folder of the operating system, that folder ("/", "/usr",
// ...); otherwise an empty text. No operation runs in such a folder.
QString protected_folder_of(const QString &resolvedPath);

// The root and the system's own folders.
QStringList protected_folders();

// The message that refuses an operation in a protected folder.
QString protected_folder_message(const QString &folder);

} // namespace torvale
