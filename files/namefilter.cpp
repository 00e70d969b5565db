#include "namefilter.h"

#include <algorithm>

namespace torvale {

namespace {

bool same(QChar p, QChar n, bool anyCase)
{
    return p == n || (anyCase && p.toCaseFolded() == n.toCaseFolded());
}

// Where the class that opens at pattern[i] ("[") closes, and whether the
// character matches it; -1 when the "[" opens no class (it stands for itself).
qsizetype match_class(QStringView pattern, qsizetype i, QChar c, bool anyCase, bool *matched)
{
    qsizetype j = i + 1;
    const bool negated = j < pattern.size() && (pattern[j] == u'!' || pattern[j] == u'^');
    if (negated)
        ++j;
    bool in = false;
    for (bool first = true; j < pattern.size() && (first || pattern[j] != u']'); first = false) {
        const QChar low = pattern[j];
        if (j + 2 < pattern.size() && pattern[j + 1] == u'-' && pattern[j + 2] != u']') {
            const QChar high = pattern[j + 2];
            const QChar folded = c.toCaseFolded();
            in = in || (low <= c && c <= high) ||
                 (anyCase && low.toCaseFolded() <= folded && folded <= high.toCaseFolded());
            j += 3;
        } else {
            in = in || same(low, c, anyCase);
            ++j;
        }
    }
    if (j >= pattern.size())
        return -1;
    *matched = in != negated;
    return j;
}

} // namespace

bool glob_match(QStringView pattern, QStringView name, qsizetype caseFrom)
{
    // Iterative, with one place to go back to for the last "*": linear for
    // the patterns people write, never exponential.
    qsizetype p = 0, n = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        bool step = false;
        if (p < pattern.size()) {
            const QChar c = pattern[p];
            if (c == u'*') {
                starP = p++;
                starN = n;
                continue;
            }
            bool matched = false;
            const qsizetype close =
                c == u'[' ? match_class(pattern, p, name[n], n >= caseFrom, &matched) : -1;
            if (close >= 0 && matched) {
                p = close + 1;
                ++n;
                step = true;
            } else if (close < 0 && (c == u'?' || same(c, name[n], n >= caseFrom))) {
                ++p;
                ++n;
                step = true;
            }
        }
        if (step)
            continue;
        if (starP < 0)
            return false;
        p = starP + 1;
        n = ++starN;
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

namespace {

bool any_matches(const QStringList &patterns, const FileName &name)
{
    const QString text = name.text();
    const qsizetype dot = text.indexOf(u'.');
    const qsizetype caseFrom = dot < 0 ? text.size() : dot + 1;
    return std::any_of(patterns.cbegin(), patterns.cend(),
                       [&](const QString &pattern) { return glob_match(pattern, text, caseFrom); });
}

} // namespace

bool NameFilter::accepts(const FileName &name) const
{
    return (m_include.isEmpty() || any_matches(m_include, name)) && !excludes(name);
}

bool NameFilter::excludes(const FileName &name) const
{
    return m_leftOut.contains(name.bytes) || any_matches(m_exclude, name);
}

QString NameFilter::describe() const
{
    QStringList parts;
    if (!m_include.isEmpty())
        parts << QStringLiteral("仅 %1").arg(m_include.join(QStringLiteral("、")));
    if (!m_exclude.isEmpty())
        parts << QStringLiteral("不含 %1").arg(m_exclude.join(QStringLiteral("、")));
    if (!m_leftOut.isEmpty())
        parts << QStringLiteral("另不含 %1 个指定的文件").arg(m_leftOut.size());
    return parts.join(QStringLiteral("；"));
}

} // namespace torvale
