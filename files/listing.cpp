#include "listing.h"

#include <algorithm>

namespace torvale {

namespace {

// The characters of a name, as UTF-16 units: a plain ASCII name is read from
// its bytes, without a copy.
struct AsciiUnits
{
    QByteArrayView s;
    qsizetype size() const { return s.size(); }
    char16_t operator[](qsizetype i) const { return uchar(s[i]); }
};
struct TextUnits
{
    QStringView s;
    qsizetype size() const { return s.size(); }
    char16_t operator[](qsizetype i) const { return s[i].unicode(); }
};

bool is_digit(char16_t c)
{
    return c >= '0' && c <= '9';
}

char16_t folded(char16_t c)
{
    if (c < 0x80) // the common case, without a table look-up
        return c >= 'A' && c <= 'Z' ? char16_t(c + 0x20) : c;
    return QChar(c).toCaseFolded().unicode();
}

// Runs of digits compare by value (whatever their leading zeros), anything
// else case-insensitively character by character: <0, 0 or >0.
template <typename A, typename B> int natural_compare(const A &a, const B &b)
{
    // Names of one folder often share a long start ("IMG_0000"): skip it,
    // back to the start of a run of digits that it ends in.
    qsizetype i = 0;
    while (i < a.size() && i < b.size() && folded(a[i]) == folded(b[i]))
        ++i;
    while (i > 0 && is_digit(a[i - 1]))
        --i;
    qsizetype j = i;
    while (i < a.size() && j < b.size()) {
        if (is_digit(a[i]) && is_digit(b[j])) {
            while (i + 1 < a.size() && a[i] == '0' && is_digit(a[i + 1]))
                ++i;
            while (j + 1 < b.size() && b[j] == '0' && is_digit(b[j + 1]))
                ++j;
            qsizetype ei = i, ej = j;
            while (ei < a.size() && is_digit(a[ei]))
                ++ei;
            while (ej < b.size() && is_digit(b[ej]))
                ++ej;
            if (ei - i != ej - j)
                return ei - i < ej - j ? -1 : 1;
            for (; i < ei; ++i, ++j) {
                if (a[i] != b[j])
                    return a[i] < b[j] ? -1 : 1;
            }
            continue;
        }
        const char16_t x = folded(a[i]), y = folded(b[j]);
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    return int(i < a.size()) - int(j < b.size());
}

int natural_compare(const FileName &a, const FileName &b)
{
    if (a.is_ascii() && b.is_ascii())
        return natural_compare(AsciiUnits{a.bytes}, AsciiUnits{b.bytes});
    return natural_compare(TextUnits{a.text()}, TextUnits{b.text()});
}

} // namespace

bool natural_less(const FileName &a, const FileName &b)
{
    if (const int c = natural_compare(a, b))
        return c < 0;
    return a.bytes < b.bytes;
}

bool list_folder(const Folder &folder, Listing *listing, QString *error)
{
    std::vector<Entry> entries;
    if (!folder.entries(&entries, error))
        return false;
    // The plain files stay where they are; the few others move out.
    const auto others =
        std::partition(entries.begin(), entries.end(), [](const Entry &e) { return e.plain(); });
    listing->others.assign(std::make_move_iterator(others), std::make_move_iterator(entries.end()));
    entries.erase(others, entries.end());
    listing->plain = std::move(entries);
    std::sort(listing->plain.begin(), listing->plain.end(),
              [](const Entry &a, const Entry &b) { return natural_less(a.name, b.name); });
    return true;
}

} // namespace torvale
