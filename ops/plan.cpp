#include "plan.h"

namespace torvale {

bool open_for_plan(const NativePath &dir, PlanBase &plan, Listing &listing)
{
    plan.folder = Folder::open(dir, &plan.refusal);
    if (!plan.folder || !list_folder(*plan.folder, &listing, &plan.refusal)) {
        if (plan.refusal.isEmpty())
            plan.refusal = QStringLiteral("无法读取文件夹");
        return false;
    }
    for (const Entry &entry : listing.others) {
        if (is_own_file_name(entry.name.bytes, OwnFile::Write) && entry.stamp.is_regular())
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
    // Files a killed run was writing: never the user's, never finished.
    for (const Entry &leftover : plan.leftovers)
        plan.folder->remove(leftover.name.bytes, leftover.stamp, &error);
    return lock;
}

} // namespace torvale
