#pragma once

#include "report.h"

#include "files/folder.h"
#include "files/listing.h"

#include <memory>
#include <vector>

namespace torvale {

// What every operation's plan holds besides its own rows: the working folder,
// held open from planning to the end of the run, why the run would be
// refused, and the program's own temporary files that a killed run left
// there (the run removes them, or keeps and names what may be the user's).
struct PlanBase
{
    std::shared_ptr<Folder> folder;
    QString refusal; // when not empty, nothing may be changed, for this reason
    std::vector<Entry> leftovers;
    // Files a killed run left that may hold a change the user made during
    // that run: never removed, named by every run.
    std::vector<Entry> kept;
    bool ok() const { return refusal.isEmpty(); }
    // The rows of a plan's table that come before its files.
    int leading_rows() const { return int(leftovers.size() + kept.size()); }
};

// Opens the folder of a plan (refused for the root and the system's
// folders, and for a folder that may not be changed) and lists it. False,
// with the plan's refusal set, when it cannot.
bool open_for_plan(const NativePath &dir, PlanBase &plan, Listing &listing);

// What every run does first: refuses a plan that was refused, takes the
// folder for itself (for as long as the lock is held) and removes the
// leftovers. Nothing, with the report refused, when the run may not go on.
std::optional<FolderLock> begin_apply(const PlanBase &plan, Report &report);

} // namespace torvale
