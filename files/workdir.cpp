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

QStringList protected_folders()
{
    return {QStringLiteral("/"),      QStringLiteral("/bin"),   QStringLiteral("/boot"),
            QStringLiteral("/dev"),   QStringLiteral("/etc"),   QStringLiteral("/lib"),
            QStringLiteral("/lib32"), QStringLiteral("/lib64"), QStringLiteral("/libx32"),
            QStringLiteral("/proc"),  QStringLiteral("/run"),   QStringLiteral("/sbin"),
            QStringLiteral("/sys"),   QStringLiteral("/usr")};
}

QString protected_folder_of(const QString &resolvedPath)
{
    const QString path = QDir::cleanPath(resolvedPath);
    if (path == QLatin1String("/") || path.isEmpty())
        return QStringLiteral("/");
    // The system's folders at the top of the tree, by their whole names.
    const QString top = QLatin1Char('/') + path.section(QLatin1Char('/'), 1, 1);
    return protected_folders().contains(top) ? top : QString();
}

QString protected_folder_message(const QString &folder)
{
    return QStringLiteral(
               "不能在根目录或系统文件目录（%1）下操作，否则有可能会损坏系统文件！请选择其它文件夹。")
        .arg(folder);
}

} // namespace torvale
