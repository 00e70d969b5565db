#pragma once

#include <QRegularExpression>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace torvale {

// How the search text is read.
struct SearchOptions
{
    bool regex = false;      // a regular expression (PCRE2, as Qt's QRegularExpression reads it)
    bool ignoreCase = false; // letters of every script that has case, full-width Latin included
};

// A search that is not a plain, case-sensitive text: matched on the decoded
// text of each line (so never inside a double-byte character), a line being
// what lies between two line ends (CR LF, a lone CR or a lone LF), without
// them. An expression that names a line end itself (\n, \r or \R) is
// matched across the lines of a part of the file instead (up to about a
// megabyte of whole lines). With a regular expression the replacement may
// use $1 to $9 (and $0, the whole match), ${name} and $$ for a dollar sign.
class Pattern
{
public:
    // The pattern, or nothing with *error saying why (the position of the
    // fault in an expression).
    static std::optional<Pattern> make(const QString &find, const QString &replacement, SearchOptions options,
                                       QString *error);

    bool spans_lines() const { return m_spansLines; }
    // Replaces every match in the text, left to right, without overlap;
    // returns how many, and sets *out when there was one. kTooCostly when
    // the matching could not be completed (it backtracked past the limit of
    // the expression engine): then the text is not to be changed at all.
    static constexpr int kTooCostly = -1;
    int replace(QStringView text, QString *out) const;

    // A match as replace() finds it: where it begins, how long it is, and
    // what it becomes.
    struct Match
    {
        qsizetype start = 0;
        qsizetype length = 0;
        QString replacement;
    };
    // The first matches in the text, at most `most`.
    std::vector<Match> matches(QStringView text, int most) const;

private:
    void append_replacement(const QRegularExpressionMatch &match, QString &to) const;
    const QRegularExpression &expression() const;

    struct Part
    {
        QString text; // literal text, or
        int group = -1;
        QString name; // a named group
    };
    QRegularExpression m_expression;
    std::vector<Part> m_replacement;
    bool m_spansLines = false;
    quint64 m_id = 0; // the same for every copy of one pattern
};

} // namespace torvale
