#pragma once

#include "plan.h"

#include <QString>

#include <vector>

namespace torvale {

struct ConvertParams
{
    NativePath dir;                   // the working directory
    QString title;                    // the index title, as typed
    NameFilter filter;                // which files take part (the conversion takes txt files among them)
    std::shared_ptr<History> history; // where the run is recorded, to be taken back; none: nowhere
    bool requireUndo = false;         // refuse the run when it could not be recorded
    bool listChanges = false;         // the report lists every change
};

// One txt file of the directory and what becomes of it.
struct ConvertItem
{
    Entry source;
    FileName page;
    Stamp pageStamp;    // the file the page replaces, if there is one
    QString skipReason; // when not empty, the file is not converted, for this reason
};

struct ConvertPlan : PlanBase
{
    QString title;
    QStringList parameters; // as the history shows them
    std::vector<ConvertItem> items;
    Stamp index;             // the index page the run replaces, if there is one
    QString indexSkipReason; // when not empty, no index is written, for this reason
};

// The page name of a text file: its name without the last four characters,
// in lower case, with ".htm" (Notes.TXT -> notes.htm; a file named just "txt"
// -> txt.htm).
FileName page_name_of(const FileName &source);

// With examineContents, each text file is also read, as the run reads it, so
// that sources that are not text show among the skipped. Asked to stop, it
// ends between two files, refused.
ConvertPlan plan_convert(const ConvertParams &params, bool examineContents = false,
                         const Progress &progress = {}, const StopRequest *stop = nullptr);

// Converts every txt file of the plan into a page beside it and writes the
// index page that links the pages written.
// Asked to stop, it stops after the pages in hand and writes no index.
Report apply_convert(const ConvertPlan &plan, const Progress &progress = {},
                     const StopRequest *stop = nullptr);

} // namespace torvale
