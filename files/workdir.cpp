#include "workdir.h"

#include <QDir>

namespace torvale {

QString with_trailing_separator(const QString &path)
{
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

QString working_directory(const QString &CurrentPath)
{
    return CurrentPath.isEmpty() ? QDir::currentPath() : CurrentPath;
}

QString protected_folder_of(const QString &resolvedPath)
{
    const QString path = QDir::cleanPath(resolvedPath);
    if (path == QLatin1String("/") || path.isEmpty())
        return QStringLiteral("/");
    // The system's folders at the top of the tree, by their whole names.
    static const char *const folders[] = {"bin",    "boot", "dev", "etc",  "lib", "lib32", "lib64",
                                          "libx32", "proc", "run", "sbin", "sys", "usr"};
    const QString top = path.section(QLatin1Char('/'), 1, 1);
    for (const char *folder : folders) {
        if (top == QLatin1String(folder))
            return QLatin1Char('/') + top;
    }
    return {};
}

QString protected_folder_message(const QString &folder)
{
    return QStringLiteral(
               "不能在根目录或系统文件目录（%1）下操作，否则有可能会损坏系统文件！请选择其它文件夹。")
        .arg(folder);
}

} // namespace torvale
