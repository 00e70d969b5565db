#include "plan.h"

namespace torvale {

namespace {

// A run killed in the middle of swapping a new version into place left a
// file under the swap name: the new version itself (never put in place),
// the planned file (the new version is in place), or a file that was
// changed during the run, which may be the user's only copy of that change:
// that one is kept and named, never moved or removed.
void sort_out_swap(const Entry &left, const SwapName &swap, PlanBase &plan)
{
    if (swap.ours.matches(left.stamp) || swap.planned.matches(left.stamp))
        plan.leftovers.push_back(left);
    else
        plan.kept.push_back(left);
}

QString kept_text(const Entry &kept)
{
    return QStringLiteral("隐藏文件“%1”未删除：上次操作被中断时有一个文件正被改动，这可能是改动后的版本，请查看后自行处理。")
        .arg(kept.name.shown());
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
        const std::optional<SwapName> swap = SwapName::parse(entry.name.bytes);
        if (!swap && !is_own_file_name(entry.name.bytes, OwnFile::Write))
            continue;
        // Only what this user could remove anyway is removed (in a shared
        // folder with the sticky bit, not someone else's, even when running
        // as root). What a swap moved out is named, whatever it is.
        if (swap && !entry.stamp.is_regular()) {
            plan.kept.push_back(entry);
            continue;
        }
        if (!entry.stamp.is_regular() || !plan.folder->may_remove_unprivileged(entry.name.bytes))
            continue;
        if (swap)
            sort_out_swap(entry, *swap, plan);
        else
            plan.leftovers.push_back(entry);
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
    // Files a killed run was writing, never finished or no longer needed.
    for (const Entry &leftover : plan.leftovers)
        plan.folder->remove(leftover.name.bytes, leftover.stamp, &error);
    for (const Entry &kept : plan.kept)
        report.notes << kept_text(kept);
    return lock;
}

} // namespace torvale
