#pragma once

#include "report.h"

#include "files/folder.h"
#include "files/listing.h"
#include "files/namefilter.h"

#include <memory>
#include <optional>
#include <vector>

namespace torvale {

class History;
class RunRecorder;

// A file that an interrupted rename left under a temporary name, and the
// name it gets back before the run does anything else.
struct Recovery
{
    FileName parked;
    FileName name;
    Stamp stamp;
};

// A file of the program's own that a run leaves where it is, and why.
struct KeptFile
{
    Entry entry;
    QString why;
};

// What every operation's plan holds besides its own rows: the working folder,
// held open from planning to the end of the run, why the run would be
// refused, the program's own temporary files that a killed run left there
// (the run removes them, or keeps and names what may be the user's), and
// the files that an interrupted rename left under temporary names (every
// run first gives them their names back, even one whose own plan is refused).
struct PlanBase
{
    std::shared_ptr<Folder> folder;
    QString refusal; // when not empty, the operation changes nothing, for this reason
    std::vector<Entry> leftovers;
    // Files that are named by every run and never removed: what a killed run
    // left that may hold a change the person made meanwhile, or another
    // user's leftovers in a shared folder.
    std::vector<KeptFile> kept;
    std::vector<Recovery> recovery;
    Stamp journal; // the interrupted rename's journal, removed after the recovery
    // The history the run is recorded in, so that it can be taken back;
    // none: it is not recorded.
    std::shared_ptr<History> history;
    bool requireUndo = false; // refused when it could not be taken back
    bool undoable = true;     // false: the former versions would not fit into the history
    qint64 keptBytes = 0; // of the former versions the run keeps (an estimate before it examined the files)
    NameFilter filter;    // which files take part
    int filteredOut = 0;  // plain files the filter's patterns left out
    std::vector<FileName> leftOut; // every file the filter left out, in the order of the listing
    bool listChanges = false;      // the report lists every change (for a script's output)

    bool ok() const { return refusal.isEmpty(); }
    // The rows of a plan's table that come before its files.
    int leading_rows() const { return int(leftovers.size() + kept.size() + recovery.size()); }
};

// Opens the folder of a plan (refused for the root and the system's
// folders, and for a folder that may not be changed), lists it, and plans
// the recovery of an interrupted rename: the files it left join the plain
// files of the listing under the names they get back. False, with the
// plan's refusal set, when the run may not go on.
// The files the filter leaves out go among the listing's others: untouched,
// but in the way of a new name like any other entry.
bool open_for_plan(const NativePath &dir, PlanBase &plan, Listing &listing, const NameFilter &filter = {});

// What every run does first: takes the folder for itself (for as long as
// the lock is held), checks again that it may be changed, gives the files
// of an interrupted rename their names back and removes the leftovers.
// Nothing, with the report refused or failed, when the run may not go on
// (also for a plan that was refused, after the recovery).
std::optional<FolderLock> begin_apply(const PlanBase &plan, Report &report);

// Where a plan's run will be recorded, and whether keeping `bytes` of
// former versions fits.
void plan_record(PlanBase &plan, const std::shared_ptr<History> &history, bool requireUndo, qint64 bytes);

// Starts the run's record in the history, with its parameters as shown.
// Nothing when the plan records nothing; a run that may not go on without
// being recorded (requireUndo) is refused in *report (false).
bool start_record(const PlanBase &plan, const QString &operation, const QStringList &parameters,
                  std::unique_ptr<RunRecorder> *recorder, Report &report);

// Makes a batch of finished new versions durable before they are put in
// place: a few files one by one, many with one flush of the file system.
// writerOf gives an item's writer (FileWriter or BufferWriter), or null.
template <typename Items, typename WriterOf>
bool make_durable(const Folder &folder, const Items &items, const WriterOf &writerOf, QString *error)
{
    constexpr int kOneByOne = 8;
    int count = 0;
    for (const auto &item : items)
        count += writerOf(item) != nullptr;
    if (count > kOneByOne)
        return folder.sync_all(error);
    for (const auto &item : items) {
        if (const auto *writer = writerOf(item); writer && !writer->sync(error))
            return false;
    }
    return true;
}

// True, with the plan refused, when its making was asked to stop: a plan
// that has not looked at every file is never shown nor run.
bool planning_stopped(PlanBase &plan, const StopRequest *stop);

// A size as people read it: "512 字节", "12 KB", "3.5 MB", "2.0 GB".
QString size_text(qint64 bytes);

// Why a run will not be recorded, for the plan's statement; empty when it will.
QString undo_warning(const PlanBase &plan);

} // namespace torvale
