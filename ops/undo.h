#pragma once

#include "history.h"
#include "plan.h"
#include "report.h"

#include <QList>

#include <memory>

namespace torvale {

// Taking back the last run in a folder that is not taken back yet, from the
// history: every file is looked at first. A file as the run left it goes
// back (a renamed one to its old name, a replaced one to its former bytes, a
// made one away); one as it was before the run (the run never came to it) is
// fine as it is; one changed, renamed or removed since is left alone and
// named. A file that a later run changed and an undo of that run put back
// counts as the run left it. The history then says which were not taken
// back; an undo that failed for a passing reason (a full disk) can be made
// again. A run that could not be taken back is passed over.
struct UndoStep
{
    Change change;
    Stamp now; // the file as it is
};

struct UndoPlan : PlanBase
{
    std::shared_ptr<History> history;
    HistoryRun run;
    std::vector<UndoStep> restore; // newest first
    QList<Problem> leftAlone;      // changed since the run
};

// With expectedRun, the run must be that one (the one a question named):
// the plan is refused when the history has changed since.
UndoPlan plan_undo(const std::shared_ptr<History> &history, const NativePath &dir,
                   const QByteArray &expectedRun = {});
// The run an undo in the folder would take back, if any.
std::optional<HistoryRun> run_to_undo(const History &history, const Folder &folder);
// How many of a run's files are no longer as the run left it.
int files_changed_since(const HistoryRun &run, const Folder &folder);
Report apply_undo(const UndoPlan &plan, const Progress &progress = {});

} // namespace torvale
