#pragma once

#include "report.h"

#include <QList>
#include <QString>

namespace torvale {

struct ConvertParams
{
    QString dir;   // the working directory
    QString title; // the index title, as typed
    QString backupDir; // when set, pages and the index that are replaced are copied there first, for undo
};

// One txt file of the directory and what becomes of it.
struct ConvertItem
{
    QString source;     // file name of the text file
    QString page;       // file name of its page
    QString skipReason; // when not empty, the file is not converted, for this reason
    bool replacesExisting = false;
};

struct ConvertPlan
{
    QString refusal; // when not empty, nothing is written, for this reason
    QList<ConvertItem> items;
    bool indexExists = false;
};

// The page name of a text file: its name without the last four characters,
// in lower case, with ".htm" (Notes.TXT -> notes.htm; a file named just "txt"
// -> txt.htm).
QString page_name_of(const QString &source);

// With examineSources, each text file is also read, as the run reads it, so
// that sources that are not text show among the skipped.
ConvertPlan plan_convert(const ConvertParams &params, bool examineSources = false);

// Converts every txt file into a page beside it and writes the index page that
// links the pages written.
Report run_convert(const ConvertParams &params, const Progress &progress = {});

} // namespace torvale
