#include "plan.h"

#include "history.h"
#include "journal.h"

#include "files/filereader.h"

#include <QSet>

namespace torvale {

namespace {

// A journal longer than this is not one of ours.
constexpr qint64 kMaxJournalBytes = 64 << 20;

QString kept_text(const KeptFile &kept)
{
    return QStringLiteral("隐藏文件“%1”未删除：%2").arg(kept.entry.name.shown(), kept.why);
}

const QString kMayHoldChanges =
    QStringLiteral("上次操作被中断时有一个文件正被改动，这可能是改动后的版本，请查看后自行处理。");

// The program's own files that a killed run left. A run killed in the
// middle of swapping a new version into place left a file under the swap
// name: the new version itself (never put in place), the planned file (the
// new version is in place), or a file that was changed during the run,
// which may be the person's only copy of that change: that one is kept and
// named, never moved or removed. Only what this user could remove anyway is
// removed (in a shared folder with the sticky bit, not someone else's, even
// when running as root).
void sort_out_leftovers(const Listing &listing, PlanBase &plan)
{
    for (const Entry &entry : listing.others) {
        const std::optional<SwapName> swap = SwapName::parse(entry.name.bytes);
        if (!swap && !is_own_file_name(entry.name.bytes, OwnFile::Write))
            continue;
        if (!entry.stamp.is_regular()) {
            if (swap) // what a swap moved out is named, whatever it is
                plan.kept.push_back({entry, kMayHoldChanges});
        } else if (!plan.folder->may_remove_unprivileged(entry.name.bytes)) {
            plan.kept.push_back(
                {entry, QStringLiteral("这是另一个用户的程序留下的临时文件，只有该用户能删除。")});
        } else if (!swap || swap->ours.matches(entry.stamp) || swap->planned.matches(entry.stamp)) {
            plan.leftovers.push_back(entry);
        } else {
            plan.kept.push_back({entry, kMayHoldChanges});
        }
    }
}

// Plans the recovery of a rename that was killed part-way, from its journal:
// each file still waiting under a temporary name gets its old name back, or
// its new one where the old is taken, and joins the plain files of the
// listing under that name. Refuses the plan when the journal is not one the
// program could have written, or a file cannot be placed.
void plan_recovery(PlanBase &plan, Listing &listing)
{
    const auto journal = std::find_if(listing.others.cbegin(), listing.others.cend(),
                                      [](const Entry &e) { return e.name.bytes == kJournalName; });
    if (journal == listing.others.cend())
        return;
    if (!plan.folder->may_remove_unprivileged(kJournalName)) {
        // In a shared folder, another user's rename: not this run's to mend.
        plan.kept.push_back({*journal, QStringLiteral("这是另一个用户的更名记录，只有该用户能处理。")});
        return;
    }
    auto refuse = [&](const QString &why) {
        plan.refusal =
            QStringLiteral(
                "文件夹中的更名记录“%1”%2。没有文件被改动。如果它不是本程序留下的，可以删除这个文件后再试。")
                .arg(QString::fromLatin1(kJournalName), why);
    };
    QByteArray text;
    QString error;
    if (!journal->stamp.is_regular())
        return refuse(QStringLiteral("不是普通文件"));
    if (journal->stamp.size > kMaxJournalBytes)
        return refuse(QStringLiteral("太大"));
    QList<Parking> parked;
    if (!read_file(*plan.folder, kJournalName, &journal->stamp, &text, &error))
        return refuse(QStringLiteral("无法读取（%1）").arg(error));
    if (!parse_journal(text, &parked, &error))
        return refuse(QStringLiteral("无效：%1").arg(error));

    QSet<QByteArray> taken;
    for (const std::vector<Entry> *entries : {&listing.plain, &listing.others}) {
        for (const Entry &e : *entries)
            taken.insert(e.name.bytes);
    }
    std::vector<Recovery> recovery;
    for (const Parking &p : parked) {
        Stamp stamp;
        if (!plan.folder->look_up(p.temporary, &stamp, &error))
            return refuse(QStringLiteral("列出的临时文件“%1”无法读取（%2）")
                              .arg(QString::fromLatin1(p.temporary), error));
        if (!stamp.exists())
            continue; // it has its place already
        if (!stamp.is_regular())
            return refuse(
                QStringLiteral("列出的临时文件“%1”不是普通文件").arg(QString::fromLatin1(p.temporary)));
        const QByteArray &name = !taken.contains(p.from) ? p.from : p.to;
        if (taken.contains(name)) {
            plan.refusal =
                QStringLiteral(
                    "上次被中断的更名留下的文件“%1”无法恢复：原名“%2”和新名“%3”都已被占用。没有文件被改动。")
                    .arg(QString::fromLatin1(p.temporary), FileName::from_bytes(p.from).shown(),
                         FileName::from_bytes(p.to).shown());
            return;
        }
        taken.insert(name);
        recovery.push_back({FileName::from_bytes(p.temporary), FileName::from_bytes(name), stamp});
    }
    plan.journal = journal->stamp;
    if (recovery.empty())
        return;
    for (const Recovery &r : recovery)
        listing.plain.push_back({r.name, r.stamp});
    std::sort(listing.plain.begin(), listing.plain.end(),
              [](const Entry &a, const Entry &b) { return natural_less(a.name, b.name); });
    plan.recovery = std::move(recovery);
}

// Gives the files of an interrupted rename their names back and removes its
// journal, once they all have their places.
bool recover(const PlanBase &plan, Report &report)
{
    const Folder &folder = *plan.folder;
    QString error;
    for (const Recovery &r : plan.recovery) {
        if (!folder.stamp(r.parked.bytes).same_file(r.stamp))
            error = QStringLiteral("它在计划之后已被改动");
        else
            folder.rename(r.parked.bytes, r.name.bytes, &error);
        if (!error.isEmpty()) {
            report.status = Report::Status::Failed;
            report.message =
                QStringLiteral("上次被中断的更名留下的文件“%1”无法恢复为“%2”：%3。没有其他文件被改动。")
                    .arg(r.parked.shown(), r.name.shown(), error);
            return false;
        }
    }
    if (plan.journal.exists() &&
        !(folder.sync(&error) && folder.remove(kJournalName, plan.journal, &error))) {
        report.status = Report::Status::Failed;
        report.message = QStringLiteral("无法删除上次被中断的更名留下的记录“%1”（%2）。没有其他文件被改动。")
                             .arg(QString::fromLatin1(kJournalName), error);
        return false;
    }
    if (!plan.recovery.empty())
        report.notes << QStringLiteral("上次被中断的更名留下的 %1 个文件已恢复为正常的文件名。")
                            .arg(plan.recovery.size());
    return true;
}

} // namespace

bool open_for_plan(const NativePath &dir, PlanBase &plan, Listing &listing, const NameFilter &filter)
{
    plan.filter = filter;
    plan.folder = Folder::open(dir, &plan.refusal);
    if (!plan.folder || !list_folder(*plan.folder, &listing, &plan.refusal)) {
        if (plan.refusal.isEmpty())
            plan.refusal = QStringLiteral("无法读取文件夹");
        return false;
    }
    plan.refusal = plan.folder->check_writable();
    if (!plan.ok())
        return false;
    sort_out_leftovers(listing, plan);
    plan_recovery(plan, listing);
    if (filter.active()) {
        const auto out = std::stable_partition(listing.plain.begin(), listing.plain.end(),
                                               [&](const Entry &e) { return filter.accepts(e.name); });
        // (Files left out by name are not counted as left out by the patterns.)
        for (auto e = out; e != listing.plain.end(); ++e) {
            plan.leftOut.push_back(e->name);
            plan.filteredOut += !filter.left_out().contains(e->name.bytes);
        }
        listing.others.insert(listing.others.end(), std::make_move_iterator(out),
                              std::make_move_iterator(listing.plain.end()));
        listing.plain.erase(out, listing.plain.end());
    }
    return plan.ok();
}

std::optional<FolderLock> begin_apply(const PlanBase &plan, Report &report)
{
    // A plan refused before its recovery was planned changes nothing at all.
    if (!plan.folder || (!plan.ok() && plan.recovery.empty() && !plan.journal.exists())) {
        report = refused(plan.refusal);
        return std::nullopt;
    }
    QString error;
    std::optional<FolderLock> lock = FolderLock::take(*plan.folder, &error);
    if (lock)
        error = plan.folder->check_writable(); // made read-only since the plan?
    if (!error.isEmpty()) {
        report = refused(error);
        return std::nullopt;
    }
    if (!recover(plan, report))
        return std::nullopt;
    if (!plan.ok()) {
        const QStringList notes = report.notes;
        report = refused(plan.refusal);
        report.notes = notes;
        return std::nullopt;
    }
    report.filteredOut = plan.filteredOut;
    // Files a killed run was writing, never finished or no longer needed.
    for (const Entry &leftover : plan.leftovers) {
        if (!plan.folder->remove(leftover.name.bytes, leftover.stamp, &error) &&
            plan.folder->stamp(leftover.name.bytes).exists()) // (gone already: a run that just ended took it)
            report.notes << QStringLiteral("上次被中断的操作留下的临时文件“%1”无法删除：%2")
                                .arg(leftover.name.shown(), error);
    }
    for (const KeptFile &kept : plan.kept)
        report.notes << kept_text(kept);
    return lock;
}

bool planning_stopped(PlanBase &plan, const StopRequest *stop)
{
    if (!stop || !stop->load())
        return false;
    plan.refusal = QStringLiteral("已停止，计划没有做完");
    return true;
}

QString size_text(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 字节").arg(bytes);
    if (bytes < (1 << 20))
        return QStringLiteral("%1 KB").arg((bytes + 1023) / 1024);
    if (bytes < (qint64(1) << 30))
        return QStringLiteral("%1 MB").arg(double(bytes) / (1 << 20), 0, 'f', 1);
    return QStringLiteral("%1 GB").arg(double(bytes) / (qint64(1) << 30), 0, 'f', 1);
}

void plan_record(PlanBase &plan, const std::shared_ptr<History> &history, bool requireUndo, qint64 bytes)
{
    plan.history = history;
    plan.requireUndo = requireUndo;
    plan.keptBytes = bytes;
    plan.undoable = !history || history->fits(bytes);
    if (plan.ok() && requireUndo && !plan.undoable)
        plan.refusal = undo_warning(plan) + QStringLiteral("没有文件被改动。");
}

QString undo_warning(const PlanBase &plan)
{
    if (!plan.history || plan.undoable)
        return {};
    return QStringLiteral("此次操作将无法撤销：文件原来的内容（%1）超出了撤销历史的大小限制（%2）。")
        .arg(size_text(plan.keptBytes), size_text(plan.history->limit()));
}

bool start_record(const PlanBase &plan, const QString &operation, const QStringList &parameters,
                  std::unique_ptr<RunRecorder> *recorder, Report &report)
{
    if (!plan.history)
        return true;
    QString error;
    *recorder = plan.history->start(*plan.folder, operation, parameters, plan.undoable, &error);
    if (*recorder)
        return true;
    if (plan.requireUndo) {
        const QStringList notes = report.notes;
        report = refused(QStringLiteral("%1。没有文件被改动。").arg(error));
        report.notes = notes;
        return false;
    }
    report.notes << QStringLiteral("此次操作将无法撤销：%1").arg(error);
    return true;
}

} // namespace torvale
