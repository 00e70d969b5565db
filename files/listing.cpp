#include "listing.h"

#include <algorithm>

namespace torvale {

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

bool is_digit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

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

bool list_folder(const Folder &folder, Listing *listing, QString *error)
{
    std::vector<Entry> entries;
    if (!folder.entries(&entries, error))
        return false;
    for (Entry &entry : entries)
        (entry.plain() ? listing->plain : listing->others).push_back(std::move(entry));
    std::sort(listing->plain.begin(), listing->plain.end(), [](const Entry &a, const Entry &b) {
        if (natural_less(a.name.text, b.name.text))
            return true;
        // Two names that show the same: by their bytes, the same order every time.
        return !natural_less(b.name.text, a.name.text) && a.name.bytes < b.name.bytes;
    });
    return true;
}

} // namespace torvale
