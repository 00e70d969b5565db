#include "workdir.h"

#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>

namespace torvale {

QString with_trailing_separator(const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    const QChar separator = QDir::separator();
    if (native.endsWith(separator))
        return native;
    return native + separator;
}

QString working_directory(const QString &CurrentPath)
{
    return CurrentPath.isEmpty() ? QDir::currentPath() : CurrentPath;
}

namespace {

// The directory with its links resolved, so that a link into a system folder
// (or /lib -> /usr/lib) is judged by where it leads.
QString resolved(const QString &dir)
{
    const QFileInfo info(dir);
    const QString canonical = info.canonicalFilePath();
    return QDir::fromNativeSeparators(canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical);
}

bool is_within(const QString &path, const QString &folder, Qt::CaseSensitivity cs)
{
    if (path.compare(folder, cs) == 0)
        return true;
    const QString withSlash = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    return path.startsWith(withSlash, cs);
}

} // namespace

QString protected_folder_of(const QString &dir)
{
    const QString path = resolved(dir);
#ifdef Q_OS_WIN
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString systemDrive = env.value(QStringLiteral("SystemDrive"), QStringLiteral("C:")) + QLatin1Char('/');
    if (path.compare(systemDrive, Qt::CaseInsensitive) == 0 || path.compare(systemDrive.chopped(1), Qt::CaseInsensitive) == 0)
        return systemDrive;
    for (const char *name : {"SystemRoot", "ProgramFiles", "ProgramFiles(x86)", "ProgramW6432", "ProgramData"}) {
        const QString folder = QDir::fromNativeSeparators(env.value(QString::fromLatin1(name)));
        if (!folder.isEmpty() && is_within(path, folder, Qt::CaseInsensitive))
            return QDir::toNativeSeparators(folder);
    }
    return {};
#else
    if (path == QLatin1String("/"))
        return QStringLiteral("/");
    static const char *const folders[] = {"/bin", "/boot", "/dev", "/etc", "/proc", "/run", "/sbin", "/sys", "/usr"};
    for (const char *folder : folders) {
        if (is_within(path, QString::fromLatin1(folder), Qt::CaseSensitive))
            return QString::fromLatin1(folder);
    }
    // /lib, /lib32, /lib64, /libx32 ...
    const QString top = path.section(QLatin1Char('/'), 1, 1);
    if (top.startsWith(QLatin1String("lib")))
        return QLatin1Char('/') + top;
    return {};
#endif
}

QString protected_folder_message(const QString &folder)
{
    return QStringLiteral("不能在根目录或系统文件目录（%1）下操作，否则有可能会损坏系统文件！请选择其它文件夹。")
        .arg(folder);
}

} // namespace torvale
