#pragma once

#include <QString>

namespace torvale {

// The working directory as a prefix for file names: the path with the native
// separator at its end ("/home/me/docs/"; a root stays as it is).
QString with_trailing_separator(const QString &path);

// The directory an operation works in: the working directory, or the process's
// current directory while none has been chosen.
QString working_directory(const QString &CurrentPath);

// When the directory is the file system's root or lies in a folder of the
// operating system, the folder that protects it ("/", "/usr", ...); otherwise
// an empty text. No operation runs in such a directory.
QString protected_folder_of(const QString &dir);

// The message that refuses an operation in a protected folder.
QString protected_folder_message(const QString &folder);

} // namespace torvale
