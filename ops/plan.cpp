#include "plan.h"

#include <algorithm>

namespace torvale {

namespace {

// A run killed in the middle of swapping a new version into place left the
// file under the swap name: the new version itself (never put in place), the
// planned file (the new version is in place), or a file that was changed
// during the run and must go back (the new version in its place has the
// same owner, as the new versions of a run have). Anything else stays.
void sort_out_swap(const Entry &left, const SwapName &swap, const std::vector<Entry> &files, PlanBase &plan)
{
    if (left.stamp.inode == swap.ours) {
        plan.leftovers.push_back(left);
        return;
    }
    const auto placed = std::find_if(files.cbegin(), files.cend(),
                                     [&](const Entry &e) { return e.stamp.inode == swap.ours; });
    if (placed == files.cend())
        return;
    if (swap.is_planned(left.stamp))
        plan.leftovers.push_back(left);
    else if (plan.folder->same_owner(left.name.bytes, placed->name.bytes))
        plan.putBack.emplace_back(left, *placed); // not one put there by someone else

}

} // namespace

bool open_for_plan(const NativePath &dir, PlanBase &plan, Listing &listing)
{
    plan.folder = Folder::open(dir, &plan.refusal);
    if (!plan.folder || !list_folder(*plan.folder, &listing, &plan.refusal)) {
        if (plan.refusal.isEmpty())
            plan.refusal = QStringLiteral("无法读取文件夹");
        return false;
    }
    for (const Entry &entry : listing.others) {
        if (!entry.stamp.is_regular())
            continue;
        if (is_own_file_name(entry.name.bytes, OwnFile::Write))
            plan.leftovers.push_back(entry);
        else if (const std::optional<SwapName> swap = SwapName::parse(entry.name.bytes))
            sort_out_swap(entry, *swap, listing.plain, plan);
    }
    plan.refusal = plan.folder->check_writable();
    return plan.ok();
}

std::optional<FolderLock> begin_apply(const PlanBase &plan, Report &report)
{
    QString error;
    if (!plan.ok()) {
        report = refused(plan.refusal);
        return std::nullopt;
    }
    std::optional<FolderLock> lock = FolderLock::take(*plan.folder, &error);
    if (!lock) {
        report = refused(error);
        return std::nullopt;
    }
    // Files a killed run was writing, never finished or no longer needed;
    // and the user's files it had swapped out, back in their places.
    for (const Entry &leftover : plan.leftovers)
        plan.folder->remove(leftover.name.bytes, leftover.stamp, &error);
    for (const auto &[theirs, ours] : plan.putBack) {
        if (plan.folder->exchange(theirs, ours, &error) && plan.folder->remove(theirs.name.bytes, ours.stamp, &error))
            report.notes << QStringLiteral("“%1”在上次被中断的操作进行时被改动过，已放回原处。")
                                .arg(ours.name.shown());
    }
    return lock;
}

} // namespace torvale
