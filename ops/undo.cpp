#include "undo.h"

#include "files/filereader.h"
#include "files/filewriter.h"

#include "moves.h"

#include <QHash>

#include <numeric>

namespace torvale {

namespace {

QString shown(const QByteArray &name)
{
    return FileName::from_bytes(name).shown();
}

const QString kChangedSinceRun = QStringLiteral("操作之后已被改动、改名或删除，未撤销");

// How a change of a run stands now.
enum class Standing { AsLeft, AsBefore, Changed };

// A file as a run left it, or as the undo of a later run put it back (a
// file restored from a copy is a new file).
bool as_left(const Change &c, const Stamp &here, const std::vector<const HistoryRun *> &later)
{
    if (!here.is_regular())
        return false;
    if (here.same_file(c.after))
        return true;
    return std::any_of(later.begin(), later.end(), [&](const HistoryRun *l) {
        const auto restored = l->restored.constFind(c.name);
        return restored != l->restored.constEnd() && restored->same_file(here) &&
               std::any_of(l->changes.cbegin(), l->changes.cend(), [&](const Change &lc) {
                   return lc.kind == Change::Kind::Rewritten && lc.name == c.name &&
                          lc.before.same_file(c.after);
               });
    });
}

Standing standing(const HistoryRun &run, const Change &c, const QHash<QByteArray, Stamp> &now,
                  const std::vector<const HistoryRun *> &later)
{
    const Stamp here = now.value(c.name);
    if (as_left(c, here, later))
        return Standing::AsLeft;
    const auto restored = run.restored.constFind(c.name); // by an undo of this run cut short
    if (restored != run.restored.constEnd() &&
        restored->same_file(c.kind == Change::Kind::Renamed ? now.value(c.oldName) : here))
        return Standing::AsBefore;
    switch (c.kind) {
    case Change::Kind::Renamed:
        return now.value(c.oldName).same_file(c.after) ? Standing::AsBefore : Standing::Changed;
    case Change::Kind::Created:
        return here.exists() ? Standing::Changed : Standing::AsBefore;
    case Change::Kind::Rewritten:
        break;
    }
    return here.same_file(c.before) ? Standing::AsBefore : Standing::Changed;
}

// The folder's entries by name, as they will be once an interrupted rename
// is mended.
QHash<QByteArray, Stamp> stamps_of(const Listing &listing)
{
    QHash<QByteArray, Stamp> now;
    for (const std::vector<Entry> *entries : {&listing.plain, &listing.others}) {
        for (const Entry &e : *entries)
            now.insert(e.name.bytes, e.stamp);
    }
    return now;
}

// Chooses the run to take back, newest first: one not taken back yet that
// changed files. A run killed before it changed anything is passed over,
// and so is one that could not be taken back (said in *notes).
const HistoryRun *choose(const std::vector<HistoryRun> &runs, const QHash<QByteArray, Stamp> &now,
                         QStringList *notes)
{
    std::vector<const HistoryRun *> later;
    for (const HistoryRun &run : runs) {
        if (run.open() && !run.undoable) {
            notes->append(QStringLiteral("%1 的“%2”无法撤销（当时没有保存文件原来的内容），已跳过。")
                              .arg(run.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                   run.operation));
        } else if (run.open()) {
            const bool touched = run.state != HistoryRun::State::Running ||
                                 std::any_of(run.changes.cbegin(), run.changes.cend(), [&](const Change &c) {
                                     return standing(run, c, now, later) != Standing::AsBefore;
                                 });
            if (touched)
                return &run;
        }
        later.push_back(&run);
    }
    return nullptr;
}

// Puts replaced files' former bytes back from the history: each new version
// written beside its file and finished, the batch made durable, then each
// swapped in while its file is still as the run left it. The kept version
// must still be the one kept (a hard link elsewhere could change it).
void restore_rewritten(const UndoPlan &plan, const Folder &kept, const std::vector<const UndoStep *> &steps,
                       Report &report, QHash<QByteArray, Stamp> *restored, bool *settled,
                       const std::function<void()> &step)
{
    const Folder &folder = *plan.folder;
    constexpr size_t kBatch = 256;
    for (size_t first = 0; first < steps.size(); first += kBatch) {
        const size_t count = std::min(kBatch, steps.size() - first);
        std::vector<std::unique_ptr<FileWriter>> writers(count);
        std::vector<QString> failures(count);
        for (size_t k = 0; k < count; ++k) {
            const Change &c = steps[first + k]->change;
            FileReader reader;
            auto writer = std::make_unique<FileWriter>();
            QString error;
            if (!reader.open(kept, c.backup, nullptr, &error)) {
                failures[k] = QStringLiteral("撤销历史中原来的内容无法读取（%1）").arg(error);
                *settled = *settled && reader.stamp().exists(); // one that is gone stays gone
                continue;
            }
            const Stamp &copy = reader.stamp();
            if (copy.same_inode(c.before) ? !copy.same_file(c.before) : copy.size != c.before.size) {
                failures[k] = QStringLiteral("撤销历史中原来的内容已被改动，未撤销");
                continue;
            }
            bool ok = writer->begin(folder, c.name, &steps[first + k]->now, &error);
            QByteArray piece;
            for (qsizetype n; ok && (n = reader.read_some(piece, 1 << 20, &error)) != 0; piece.clear())
                ok = n > 0 && writer->write(piece, &error);
            if (ok && writer->finish(&error, false)) {
                writers[k] = std::move(writer);
            } else {
                failures[k] = error;
                *settled = false;
            }
        }
        QString error;
        const bool durable = make_durable(
            folder, writers, [](const std::unique_ptr<FileWriter> &w) { return w.get(); }, &error);
        for (size_t k = 0; k < count; ++k) {
            const Change &c = steps[first + k]->change;
            if (writers[k] && durable && writers[k]->publish(&error)) {
                ++report.changed;
                restored->insert(c.name, folder.stamp(c.name));
                if (plan.listChanges)
                    report.changes.append(c);
            } else if (writers[k]) {
                failures[k] = durable ? error : QStringLiteral("无法写入磁盘（%1）").arg(error);
                *settled = false;
            }
            if (!failures[k].isEmpty())
                report.problems.append({shown(c.name), failures[k]});
            step();
        }
    }
}

} // namespace

std::optional<HistoryRun> run_to_undo(const History &history, const Folder &folder)
{
    Listing listing;
    QString error;
    if (!list_folder(folder, &listing, &error))
        return std::nullopt;
    const std::vector<HistoryRun> runs = history.runs(&folder);
    QStringList notes;
    const HistoryRun *run = choose(runs, stamps_of(listing), &notes);
    return run ? std::optional<HistoryRun>(*run) : std::nullopt;
}

UndoPlan plan_undo(const std::shared_ptr<History> &history, const NativePath &dir,
                   const QByteArray &expectedRun)
{
    UndoPlan plan;
    plan.history = history;
    Listing listing;
    if (!open_for_plan(dir, plan, listing))
        return plan;
    const std::vector<HistoryRun> runs = history->runs(plan.folder.get());
    const QHash<QByteArray, Stamp> now = stamps_of(listing);
    QStringList notes;
    const HistoryRun *run = choose(runs, now, &notes);
    if (!run) {
        plan.refusal = QStringLiteral("文件夹“%1”中没有可以撤销的操作。").arg(plan.folder->path());
        return plan;
    }
    if (!expectedRun.isEmpty() && run->id != expectedRun) {
        plan.refusal = QStringLiteral(
            "撤销历史在询问之后有了变化（另一个程序做了或撤销了操作），没有文件被改动。请再试一次。");
        return plan;
    }
    plan.run = *run;
    std::vector<const HistoryRun *> later;
    for (const HistoryRun &r : runs) {
        if (r.id == run->id)
            break;
        later.push_back(&r);
    }
    for (auto c = plan.run.changes.crbegin(); c != plan.run.changes.crend(); ++c) {
        switch (standing(plan.run, *c, now, later)) {
        case Standing::AsLeft:
            plan.restore.push_back({*c, now.value(c->name)});
            break;
        case Standing::Changed:
            plan.leftAlone.append({shown(c->name), kChangedSinceRun});
            break;
        case Standing::AsBefore:
            break;
        }
    }
    return plan;
}

int files_changed_since(const HistoryRun &run, const Folder &folder)
{
    return int(std::count_if(run.changes.cbegin(), run.changes.cend(), [&](const Change &c) {
        const Stamp now = folder.stamp(c.name);
        const auto restored = run.restored.constFind(c.name);
        return !(now.is_regular() && (now.same_file(c.after) ||
                                      (restored != run.restored.constEnd() && restored->same_file(now))));
    }));
}

Report apply_undo(const UndoPlan &plan, const Progress &progress)
{
    Report report;
    report.files = int(plan.run.changes.size());
    QString error;
    // The run stays in the history while it is taken back.
    const std::shared_ptr<Folder> kept = plan.ok() ? plan.history->kept_files(plan.run, &error) : nullptr;
    const std::optional<FolderLock> keptLock = kept ? FolderLock::take(*kept, &error) : std::nullopt;
    if (plan.ok() && !keptLock) {
        report = refused(QStringLiteral("这次操作正在被撤销或记录，没有文件被改动。"));
        return report;
    }
    const std::optional<FolderLock> lock = begin_apply(plan, report);
    if (!lock)
        return report;
    const Folder &folder = *plan.folder;
    report.problems = plan.leftAlone;
    bool settled = true; // nothing failed that a later try could mend

    // A renamed file goes back only where its old name is free, or held by a
    // file that goes back too (a chain); dropping one may strand the file
    // whose old name it holds, which is looked at again.
    std::vector<const UndoStep *> renames, rewrites, made;
    for (const UndoStep &s : plan.restore) {
        (s.change.kind == Change::Kind::Renamed     ? renames
         : s.change.kind == Change::Kind::Rewritten ? rewrites
                                                    : made)
            .push_back(&s);
    }
    QHash<QByteArray, size_t> movingFrom, wanting;
    for (size_t i = 0; i < renames.size(); ++i) {
        movingFrom.insert(renames[i]->change.name, i);
        wanting.insert(renames[i]->change.oldName, i);
    }
    std::vector<bool> dropped(renames.size(), false);
    std::vector<size_t> toCheck(renames.size());
    std::iota(toCheck.begin(), toCheck.end(), 0);
    while (!toCheck.empty()) {
        const size_t i = toCheck.back();
        toCheck.pop_back();
        const Change &c = renames[i]->change;
        if (dropped[i] || !folder.stamp(c.oldName).exists() || movingFrom.contains(c.oldName))
            continue;
        dropped[i] = true;
        report.problems.append(
            {shown(c.name), QStringLiteral("原来的名字“%1”已被占用，未撤销").arg(shown(c.oldName))});
        movingFrom.remove(c.name);
        if (const auto next = wanting.constFind(c.name); next != wanting.constEnd())
            toCheck.push_back(*next);
    }
    std::vector<Entry> from;
    std::vector<FileName> to;
    for (size_t i = 0; i < renames.size(); ++i) {
        if (!dropped[i]) {
            from.push_back({FileName::from_bytes(renames[i]->change.name), renames[i]->now});
            to.push_back(FileName::from_bytes(renames[i]->change.oldName));
        }
    }
    const int maximum = int(plan.restore.size()) + 1;
    int done = 0;
    auto step = [&] {
        if (progress)
            progress(++done, maximum);
    };
    if (progress)
        progress(0, maximum);
    QHash<QByteArray, Stamp> restored;
    if (!from.empty()) {
        Report moved;
        execute_moves(folder, from, to, moved, step);
        report.changed += moved.changed;
        report.problems += moved.problems;
        report.status = moved.status;
        report.message = moved.message;
        settled = settled && moved.status == Report::Status::Done;
        if (moved.status == Report::Status::Done) {
            for (size_t i = 0; i < from.size(); ++i) { // (a rename keeps the file: its stamp is as it was)
                restored.insert(from[i].name.bytes, from[i].stamp);
                if (plan.listChanges)
                    report.changes.append(
                        {Change::Kind::Renamed, to[i].bytes, from[i].name.bytes, {}, from[i].stamp});
            }
        }
    }
    if (kept)
        restore_rewritten(plan, *kept, rewrites, report, &restored, &settled, step);
    for (const UndoStep *s : made) {
        if (folder.remove(s->change.name, s->now, &error)) {
            ++report.changed;
            if (plan.listChanges)
                report.changes.append(s->change);
        } else {
            report.problems.append({shown(s->change.name), error});
            settled = false;
        }
        step();
    }
    if (!folder.sync(&error))
        note_unsynced(report, folder, error);
    // What went back is noted in any case (a later try knows it); the run
    // is taken back for good only when nothing failed for a passing reason.
    QStringList notRestored;
    for (const Problem &p : report.problems)
        notRestored << p.name;
    if (!plan.history->mark_restored(plan.run, restored, &error) ||
        (settled && !plan.history->mark_undone(plan.run, notRestored, &error)))
        report.notes
            << QStringLiteral("撤销历史无法更新（%1）：下一次撤销可能会再次处理这次操作。").arg(error);
    else if (!settled)
        report.notes << QStringLiteral("有文件未能恢复：问题解决后，再次撤销可以继续恢复它们。");
    return report;
}

} // namespace torvale
