#pragma once

#include "report.h"

#include "files/charset.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace torvale {

struct ReplaceParams
{
    QString dir;     // the working directory
    QString find;    // exactly as typed; an empty text changes nothing
    QString replace; // exactly as typed; an empty text deletes each occurrence
    QString backupDir; // when set, the former bytes of each rewritten file are kept there, for undo
};

// Replaces every occurrence of needle by replacement in the bytes of a text
// file in the given character set, line by line: left to right, without
// overlap, never across a line end (a CR, with the LF right after it) and,
// in GBK, only where a whole character begins. Every other byte stays as it
// was. Returns the number of occurrences replaced; *out is set only when
// there was at least one.
int replace_in_bytes(QByteArrayView bytes, Charset charset, QByteArrayView needle, QByteArrayView replacement,
                     QByteArray *out);

// The search and replacement texts as bytes in each character set that a
// file may have. A text that GBK cannot hold occurs in no GBK file.
struct ReplaceNeedles
{
    explicit ReplaceNeedles(const ReplaceParams &params);
    std::optional<QByteArray> findGbk;
    QByteArray findUtf8;
    std::optional<QByteArray> replaceGbk;
    QByteArray replaceUtf8;
};

// What a replace would do to one file, worked out without changing it: the
// occurrences it holds, the reason it would be left alone, or its new bytes.
struct ReplaceVerdict
{
    int occurrences = 0;
    QString skipReason;
    QByteArray newBytes;    // set when the file would be rewritten
    QByteArray formerBytes; // and its bytes now
};

ReplaceVerdict examine_for_replace(const QString &path, const ReplaceParams &params, const ReplaceNeedles &needles);

// What a run would do, file by file, found by the same examination the run
// makes: the files it would rewrite (with their occurrences) and those it
// would leave alone (with the reason). Changes nothing.
struct ReplacePlanItem
{
    QString name;
    int occurrences = 0;
    QString skipReason;
};
struct ReplacePlan
{
    QString refusal;
    QList<ReplacePlanItem> items; // only files that hold the search text or cannot be examined
};
ReplacePlan plan_replace(const ReplaceParams &params);

// Rewrites every file that holds the search text; files without it are not touched.
Report run_replace(const ReplaceParams &params, const Progress &progress = {});

} // namespace torvale
