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

// Puts a replaced file's former bytes back, from the history, a piece at a
// time; the file must still be as the run left it.
bool restore_bytes(const Folder &kept, const Folder &folder, const Change &c, QString *error)
{
    FileReader reader;
    FileWriter writer;
    if (!reader.open(kept, c.backup, nullptr, error)) {
        *error = QStringLiteral("撤销历史中原来的内容无法读取（%1）").arg(*error);
        return false;
    }
    if (!writer.begin(folder, c.name, &c.after, error))
        return false;
    QByteArray piece;
    for (qsizetype n; (n = reader.read_some(piece, 1 << 20, error)) != 0; piece.clear()) {
        if (n < 0 || !writer.write(piece, error))
            return false;
    }
    return writer.commit(error);
}

} // namespace

UndoPlan plan_undo(const std::shared_ptr<History> &history, const NativePath &dir)
{
    UndoPlan plan;
    plan.history = history;
    Listing listing;
    if (!open_for_plan(dir, plan, listing))
        return plan;
    const std::vector<HistoryRun> runs = history->runs(plan.folder.get());
    const auto last = std::find_if(runs.cbegin(), runs.cend(), [](const HistoryRun &r) {
        return r.state == HistoryRun::State::Done || r.state == HistoryRun::State::Running;
    });
    if (last == runs.cend()) {
        plan.refusal = QStringLiteral("文件夹“%1”中没有可以撤销的操作。").arg(plan.folder->path());
        return plan;
    }
    plan.run = *last;
    if (!plan.run.undoable) {
        plan.refusal =
            QStringLiteral("上次的操作（%1）无法撤销：当时撤销历史中没有足够的空间保存文件原来的内容。")
                .arg(plan.run.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        return plan;
    }
    // The folder as it will be once an interrupted rename is mended.
    QHash<QByteArray, Stamp> now;
    for (const std::vector<Entry> *entries : {&listing.plain, &listing.others}) {
        for (const Entry &e : *entries)
            now.insert(e.name.bytes, e.stamp);
    }
    const QString changedSince = QStringLiteral("操作之后已被改动、改名或删除，未撤销");
    for (auto c = plan.run.changes.crbegin(); c != plan.run.changes.crend(); ++c) {
        const Stamp here = now.value(c->name);
        const bool asLeft = here.is_regular() && here.same_file(c->after);
        const bool asBefore = c->kind == Change::Kind::Renamed   ? now.value(c->oldName).same_file(c->after)
                              : c->kind == Change::Kind::Created ? !here.exists()
                                                                 : here.same_file(c->before);
        if (asLeft)
            plan.restore.push_back(*c);
        else if (!asBefore)
            plan.leftAlone.append({shown(c->name), changedSince});
    }
    return plan;
}

int files_changed_since(const HistoryRun &run, const Folder &folder)
{
    return int(std::count_if(run.changes.cbegin(), run.changes.cend(), [&](const Change &c) {
        const Stamp now = folder.stamp(c.name);
        return !(now.is_regular() && now.same_file(c.after));
    }));
}

Report apply_undo(const UndoPlan &plan, const Progress &progress)
{
    Report report;
    report.files = int(plan.run.changes.size());
    const std::optional<FolderLock> lock = begin_apply(plan, report);
    if (!lock)
        return report;
    const Folder &folder = *plan.folder;
    report.problems = plan.leftAlone;
    QString error;
    const std::shared_ptr<Folder> kept = plan.history->kept_files(plan.run, &error);

    // A renamed file goes back only where its old name is free, or held by a
    // file that goes back too (a chain); dropping one may strand the file
    // whose old name it holds, which is looked at again.
    std::vector<const Change *> renames;
    for (const Change &c : plan.restore) {
        if (c.kind == Change::Kind::Renamed)
            renames.push_back(&c);
    }
    QHash<QByteArray, size_t> movingFrom, wanting;
    for (size_t i = 0; i < renames.size(); ++i) {
        movingFrom.insert(renames[i]->name, i);
        wanting.insert(renames[i]->oldName, i);
    }
    std::vector<bool> dropped(renames.size(), false);
    std::vector<size_t> toCheck(renames.size());
    std::iota(toCheck.begin(), toCheck.end(), 0);
    while (!toCheck.empty()) {
        const size_t i = toCheck.back();
        toCheck.pop_back();
        const Change &c = *renames[i];
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
            from.push_back({FileName::from_bytes(renames[i]->name), renames[i]->after});
            to.push_back(FileName::from_bytes(renames[i]->oldName));
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
    if (!from.empty()) {
        Report moved;
        execute_moves(folder, from, to, moved, step);
        report.changed += moved.changed;
        report.problems += moved.problems;
        report.status = moved.status;
        report.message = moved.message;
    }
    for (const Change &c : plan.restore) {
        if (c.kind == Change::Kind::Renamed)
            continue;
        const bool ok = c.kind == Change::Kind::Created ? folder.remove(c.name, c.after, &error)
                                                        : kept && restore_bytes(*kept, folder, c, &error);
        if (ok)
            ++report.changed;
        else
            report.problems.append({shown(c.name), kept || c.kind == Change::Kind::Created
                                                       ? error
                                                       : QStringLiteral("撤销历史中原来的内容已不在")});
        step();
    }
    if (!folder.sync(&error))
        note_unsynced(report, folder, error);
    QStringList notRestored;
    for (const Problem &p : report.problems)
        notRestored << p.name;
    if (!plan.history->mark_undone(plan.run, notRestored, &error))
        report.notes
            << QStringLiteral("撤销历史无法更新（%1）：下一次撤销可能会再次处理这次操作。").arg(error);
    return report;
}

} // namespace torvale
