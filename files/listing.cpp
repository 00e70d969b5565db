#include "listing.h"

#include "workdir.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

namespace torvale {

QString extension_of(const QString &name)
{
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    return (dot < 0 ? name : name.mid(dot + 1)).toLower();
}

namespace {

// Compares two runs of ASCII digits by value; equal values compare equal
// whatever their leading zeros.
int compare_numbers(QStringView a, QStringView b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() - 1 && a[i] == QLatin1Char('0'))
        ++i;
    while (j < b.size() - 1 && b[j] == QLatin1Char('0'))
        ++j;
    const QStringView x = a.mid(i), y = b.mid(j);
    if (x.size() != y.size())
        return x.size() < y.size() ? -1 : 1;
    return x.compare(y);
}

bool is_digit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

qsizetype digit_run_end(QStringView s, qsizetype from)
{
    while (from < s.size() && is_digit(s[from]))
        ++from;
    return from;
}

QChar folded(QChar c)
{
    if (c.unicode() < 0x80) // the common case, without a table look-up
        return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ? QChar(c.unicode() + 0x20) : c;
    return c.toCaseFolded();
}

} // namespace

bool natural_less(const QString &a, const QString &b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (is_digit(a[i]) && is_digit(b[j])) {
            const qsizetype ei = digit_run_end(a, i), ej = digit_run_end(b, j);
            if (const int c = compare_numbers(QStringView(a).mid(i, ei - i), QStringView(b).mid(j, ej - j)))
                return c < 0;
            i = ei;
            j = ej;
            continue;
        }
        const QChar x = folded(a[i]), y = folded(b[j]);
        if (x != y)
            return x < y;
        ++i;
        ++j;
    }
    if ((i < a.size()) != (j < b.size()))
        return j < b.size();
    // Names equal but for case or leading zeros: a fixed, total order all the same.
    return a < b;
}

Listing list_plain_files(const QString &dir)
{
    Listing listing;
    const QDir directory(dir);
    if (!directory.exists() || !directory.isReadable()) {
        listing.ok = false;
        listing.error = QStringLiteral("无法读取文件夹“%1”").arg(QDir::toNativeSeparators(dir));
        return listing;
    }
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        // A name that does not survive the file-name encoding (invalid UTF-8
        // bytes) cannot be looked up again: it lands among the others, untouched.
        if (info.isFile() && !info.isSymLink() && !info.isHidden())
            listing.names.append(info.fileName());
        else
            listing.others.append(info.fileName());
    }
    std::sort(listing.names.begin(), listing.names.end(), natural_less);
    return listing;
}

Listing list_working_files(const QString &dir)
{
    const QString guard = protected_folder_of(dir);
    if (!guard.isEmpty()) {
        Listing refused;
        refused.ok = false;
        refused.error = protected_folder_message(guard);
        return refused;
    }
    return list_plain_files(dir);
}

} // namespace torvale
