#pragma once

#include "pattern.h"
#include "plan.h"

#include "files/charset.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>
#include <vector>

namespace torvale {

struct ReplaceParams
{
    NativePath dir;        // the working directory
    QString find;          // exactly as typed; an empty text changes nothing
    QString replace;       // exactly as typed; an empty text deletes each occurrence
    QString backupDir;     // when set, the former bytes of each rewritten file are kept there, for undo
    SearchOptions options; // a regular expression, letter case
    NameFilter filter;     // which files take part
    std::shared_ptr<History> history; // where the run is recorded, to be taken back; none: nowhere
    bool requireUndo = false;         // refuse the run when it could not be recorded
    bool listChanges = false;         // the report lists every change
};

// Replaces every occurrence of needle by replacement in the bytes of a text
// file in the given character set, line by line: left to right, without
// overlap, never across a line end (a CR or an LF) and, in GBK, only where a
// whole character begins. Every other byte stays as it
// was. Returns the number of occurrences replaced; *out is set only when
// there was at least one.
int replace_in_bytes(QByteArrayView bytes, Charset charset, QByteArrayView needle, QByteArrayView replacement,
                     QByteArray *out);

// A place where a search matches in a file, with the text around it.
struct Hit
{
    QString before; // at most `context` characters of its line before the match ("…" first when cut)
    QString match;
    QString replacement; // what the match becomes
    QString after;       // and after it ("…" last when cut)
};

// The first hits (at most `most`) of the pattern in a text file of the
// folder that is still as planned, as find and replace reads it. Empty when
// it holds none, is not text (or not surely one text) or cannot be read.
std::vector<Hit> first_hits(const Folder &folder, const Entry &file, const Pattern &pattern, int most,
                            int context);

struct ReplacePlan : PlanBase
{
    QString find;
    QString replace;
    SearchOptions options;
    QStringList parameters;             // as the history shows them
    std::vector<Entry> files;           // every plain file, in the order of the run
    std::vector<qint32> occurrences;    // in each file; -1 until it has been examined
    QHash<qint32, QString> skipReasons; // the files left alone, and why
};

// With examineContents every file is read, as the run reads it, so that the
// plan shows the occurrences of each file and the files that would be
// skipped; without, the run examines each file when it comes to it. Asked to
// stop, it ends after the files in hand, refused.
ReplacePlan plan_replace(const ReplaceParams &params, bool examineContents = false,
                         const Progress &progress = {}, const StopRequest *stop = nullptr);

// Rewrites every file that holds the search text; files without it are not
// touched. Each file must still be the one planned. Asked to stop, it stops
// after the files in hand; files not finished by then keep their bytes.
Report apply_replace(const ReplacePlan &plan, const Progress &progress = {},
                     const StopRequest *stop = nullptr);

} // namespace torvale
