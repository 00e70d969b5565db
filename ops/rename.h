#pragma once

#include "moves.h"
#include "number.h"
#include "plan.h"

#include <QString>

#include <vector>

namespace torvale {

struct RenameParams
{
    NativePath dir;           // the working directory
    QString prefix;           // as typed; spaces at both ends are dropped
    QString start;            // the start number as typed, read by parse_start_number
    int width = 0;            // number width in digits (2 to 8), 0 for no leading zeros
    bool keepChanges = false; // list each rename in the report, for undo
    QByteArray nameCharset; // in which the prefix goes into names (a GB18030 locale's, say); UTF-8 when empty
    std::shared_ptr<History> history; // where the run is recorded, to be taken back; none: nowhere
    bool requireUndo = false;         // refuse the run when it could not be recorded
};

// The message shown when a number is longer than the chosen width.
QString width_message();

// What a rename would do, made before anything is renamed: first the files
// of an interrupted rename get their names back, then every file of the
// folder (those included) is renamed in the order of the moves.
struct RenamePlan : PlanBase
{
    std::vector<Entry> sources;    // every plain file, in the order of the run
    std::vector<FileName> targets; // and its new name
    int problemRow = -1;           // the file that the refusal is about, or -1
    bool keepChanges = false;
    QStringList parameters; // as the history shows them
};

RenamePlan plan_rename(const RenameParams &params);

// Carries out the plan when the whole batch can be renamed; a rename that
// fails part-way puts back the files renamed before it.
Report apply_rename(const RenamePlan &plan, const Progress &progress = {}, const StopRequest *stop = nullptr);

} // namespace torvale
