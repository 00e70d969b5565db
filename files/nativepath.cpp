#include "nativepath.h"

#include <QFile>
#include <QStringList>

#include <dirent.h>

namespace torvale {

NativePath::NativePath(const QString &path) : bytes(QFile::encodeName(path))
{
    if (!path.contains(QChar::ReplacementCharacter))
        return;
    // Find each folder whose name Qt could not decode by its bytes.
    bytes.clear();
    const QStringList parts = path.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0)
            bytes += '/';
        if (!parts[i].contains(QChar::ReplacementCharacter)) {
            bytes += QFile::encodeName(parts[i]);
            continue;
        }
        QList<QByteArray> matches;
        if (DIR *dir = ::opendir(bytes.isEmpty() ? "." : bytes.constData())) {
            while (const dirent *e = ::readdir(dir)) {
                if (QFile::decodeName(e->d_name) == parts[i])
                    matches << QByteArray(e->d_name);
            }
            ::closedir(dir);
        }
        if (matches.size() != 1) {
            error =
                QStringLiteral(
                    "无法确定文件夹“%1”：它的名称不是 UTF-8 编码，窗口中可能有几个文件夹显示为同一个名称。"
                    "请用 torvale-cli，或者先把文件夹改名。")
                    .arg(path);
            return;
        }
        bytes += matches.constFirst();
    }
}

} // namespace torvale
