#pragma once

#include "files/filename.h"

#include <QList>
#include <QString>

namespace torvale {

class TextBuffer;

// The fixed texts of every page: the head with its style sheet up to the
// opening of the heading; the bar under the heading with the opening of the
// body's paragraph; the closing of that paragraph with the bar below it.
extern const QString kPageHead;
extern const QString kBodyOpening;
extern const QString kBodyClosing;

// The index page's file name, the target of every page's back link.
extern const QString kIndexName;

// A line with "<" and ">" in their full-width forms; nothing else changes.
QString escape_angles(QString line);

// The pieces of a converted page, appended in this order: the head (with the
// title), one body line for each later line that is not empty, the end.
void append_page_head(TextBuffer &buffer, const QString &title);
void append_page_line(TextBuffer &buffer, const QString &line);
void append_page_end(TextBuffer &buffer);

// The link target of a page in the index: its file name, with the characters
// that would change the link's meaning for a browser percent-encoded. A name
// that is not UTF-8 has its bytes percent-encoded, so that the link leads to
// exactly those bytes.
QString link_target(const FileName &page);

struct IndexEntry
{
    FileName page; // without its directory
    QString title;
};

// The whole index page: heading title + "目录", one link line per page.
void append_index(TextBuffer &buffer, const QString &title, const QList<IndexEntry> &pages);

} // namespace torvale
