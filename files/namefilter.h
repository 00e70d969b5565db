#pragma once

#include "filename.h"

#include <QSet>
#include <QStringList>

namespace torvale {

// Which files of a folder take part in a run: those whose names match one
// of the include patterns (every file, when there are none) and none of the
// exclude patterns. A pattern is matched against the whole name: "*" stands
// for any text, "?" for one character, "[abc]" or "[a-z]" for one of those
// ("[!a]" or "[^a]" for any other); everything else stands for itself, the
// extension (what follows the name's first dot) matched without regard to
// letter case, so that "*.jpg" takes IMG_1.JPG too. Files may also be left
// out one by one, by their exact names (bytes).
class NameFilter
{
public:
    NameFilter() = default;
    NameFilter(const QStringList &include, const QStringList &exclude)
        : m_include(include), m_exclude(exclude)
    {
    }

    bool active() const { return !m_include.isEmpty() || !m_exclude.isEmpty() || !m_leftOut.isEmpty(); }
    bool accepts(const FileName &name) const;
    // Left out by an exclude pattern or by name: a file not to be touched,
    // whether or not it is one the operation would take.
    bool excludes(const FileName &name) const;
    // The filter in a few words: "仅 *.jpg、*.png；不含 desktop.ini；另不含 2 个指定的文件".
    QString describe() const;

    const QStringList &include() const { return m_include; }
    const QStringList &exclude() const { return m_exclude; }

    // The files left out by name, whatever the patterns say.
    void set_left_out(const QSet<QByteArray> &names) { m_leftOut = names; }
    const QSet<QByteArray> &left_out() const { return m_leftOut; }

private:
    QStringList m_include;
    QStringList m_exclude;
    QSet<QByteArray> m_leftOut;
};

// True when the pattern matches the whole name; characters of the name from
// caseFrom on compare without regard to letter case.
bool glob_match(QStringView pattern, QStringView name, qsizetype caseFrom);

} // namespace torvale
