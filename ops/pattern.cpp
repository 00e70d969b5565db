#include "pattern.h"

#include <atomic>

namespace torvale {

namespace {

// Whether an expression matches a line end of its own accord: an escape
// that stands for one, or the character itself.
bool names_line_end(const QString &pattern)
{
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == u'\n' || c == u'\r')
            return true;
        if (c == u'\\' && i + 1 < pattern.size()) {
            const QChar next = pattern[++i];
            if (next == u'n' || next == u'r' || next == u'R')
                return true;
        }
    }
    return false;
}

} // namespace

std::optional<Pattern> Pattern::make(const QString &find, const QString &replacement, SearchOptions options,
                                     QString *error)
{
    Pattern pattern;
    QRegularExpression::PatternOptions flags = QRegularExpression::UseUnicodePropertiesOption;
    if (options.ignoreCase)
        flags |= QRegularExpression::CaseInsensitiveOption;
    if (options.regex && names_line_end(find)) {
        pattern.m_spansLines = true;
        flags |= QRegularExpression::MultilineOption;
    }
    static std::atomic<quint64> made{0};
    pattern.m_id = ++made;
    pattern.m_expression = QRegularExpression(options.regex ? find : QRegularExpression::escape(find), flags);
    if (!pattern.m_expression.isValid()) {
        *error = QStringLiteral("正则表达式“%1”在第 %2 个字符处有错误（%3）")
                     .arg(find)
                     .arg(pattern.m_expression.patternErrorOffset() + 1)
                     .arg(pattern.m_expression.errorString());
        return std::nullopt;
    }
    if (!options.regex) {
        pattern.m_replacement.push_back({replacement});
        return pattern;
    }
    // The replacement, cut into its text and its references to groups.
    QString text;
    for (qsizetype i = 0; i < replacement.size(); ++i) {
        const QChar c = replacement[i];
        const QChar next = i + 1 < replacement.size() ? replacement[i + 1] : QChar();
        if (c != u'$' || next.isNull()) {
            text += c;
        } else if (next == u'$') {
            text += c;
            ++i;
        } else if (next.isDigit() && next.unicode() < 0x80) {
            pattern.m_replacement.push_back({text});
            pattern.m_replacement.push_back({{}, next.digitValue()});
            text.clear();
            ++i;
        } else if (next == u'{' && replacement.indexOf(u'}', i + 2) > i + 2) {
            const qsizetype close = replacement.indexOf(u'}', i + 2);
            const QString name = replacement.mid(i + 2, close - i - 2);
            if (!pattern.m_expression.namedCaptureGroups().contains(name)) {
                *error = QStringLiteral("替换字符串中的“${%1}”：正则表达式中没有这个名字的组").arg(name);
                return std::nullopt;
            }
            pattern.m_replacement.push_back({text});
            pattern.m_replacement.push_back({{}, -1, name});
            text.clear();
            i = close;
        } else {
            text += c;
        }
    }
    pattern.m_replacement.push_back({text});
    for (const Part &part : pattern.m_replacement) {
        if (part.group > pattern.m_expression.captureCount()) {
            *error = QStringLiteral("替换字符串中的“$%1”：正则表达式只有 %2 个组")
                         .arg(part.group)
                         .arg(pattern.m_expression.captureCount());
            return std::nullopt;
        }
    }
    return pattern;
}

// Each thread matches with an expression of its own: copies of one share
// a count of references that every match changes, which threads working on
// files side by side would otherwise fight over.
const QRegularExpression &Pattern::expression() const
{
    thread_local quint64 id = 0;
    thread_local QRegularExpression own;
    if (id != m_id) {
        own = QRegularExpression(m_expression.pattern(), m_expression.patternOptions());
        own.optimize();
        id = m_id;
    }
    return own;
}

int Pattern::replace(QStringView text, QString *out) const
{
    const QRegularExpression &expression = this->expression();
    int count = 0;
    qsizetype copied = 0;
    bool lastEmpty = false;
    QString result;
    QRegularExpressionMatchIterator matches = expression.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        result += text.mid(copied, match.capturedStart() - copied);
        append_replacement(match, result);
        copied = match.capturedEnd();
        lastEmpty = match.capturedLength() == 0;
        ++count;
    }
    // The matches end at an error (too much backtracking) as they end at
    // the end of the text: matching again from where they ended tells the
    // two apart.
    // (After an empty match, from the next character: a surrogate pair is one.)
    const bool pair = lastEmpty && copied + 1 < text.size() && text[copied].isHighSurrogate() &&
                      text[copied + 1].isLowSurrogate();
    const qsizetype from = copied + (lastEmpty ? (pair ? 2 : 1) : 0);
    if (from <= text.size() && !expression.match(text, from).isValid())
        return kTooCostly;
    if (count > 0) {
        result += text.mid(copied);
        *out = std::move(result);
    }
    return count;
}

std::vector<Pattern::Match> Pattern::matches(QStringView text, int most) const
{
    std::vector<Match> found;
    QRegularExpressionMatchIterator each = expression().globalMatch(text);
    while (int(found.size()) < most && each.hasNext()) {
        const QRegularExpressionMatch match = each.next();
        found.push_back({match.capturedStart(), match.capturedLength(), {}});
        append_replacement(match, found.back().replacement);
    }
    return found;
}

void Pattern::append_replacement(const QRegularExpressionMatch &match, QString &to) const
{
    for (const Part &part : m_replacement) {
        if (part.group >= 0)
            to += match.capturedView(part.group);
        else if (!part.name.isEmpty())
            to += match.capturedView(part.name);
        else
            to += part.text;
    }
}

} // namespace torvale
