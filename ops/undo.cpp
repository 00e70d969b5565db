#include "undo.h"

#include "moves.h"

#include <QHash>

namespace torvale {

Report undo_changes(const std::shared_ptr<Folder> &folder, const QList<Change> &changes,
                    const Folder *backups, const Progress &progress)
{
    Report report;
    report.files = int(changes.size());
    QString error;
    const std::optional<FolderLock> lock = FolderLock::take(*folder, &error);
    if (!lock)
        return refused(error);
    const QString changedSince = QStringLiteral("操作之后已被改动、改名或删除，未撤销");
    auto shown = [](const QByteArray &name) { return FileName::from_bytes(name).shown(); };

    // First look at everything, then change what may be changed.
    QList<const Change *> safe;
    std::vector<RenameMove> renames;
    for (qsizetype i = changes.size() - 1; i >= 0; --i) {
        const Change &c = changes[i];
        if (!folder->stamp(c.name).same_file(c.after))
            report.problems.append({shown(c.name), changedSince});
        else if (c.kind == Change::Kind::Rewritten && (c.backup.isEmpty() || !backups))
            report.problems.append({shown(c.name), QStringLiteral("没有保存原来的内容，无法撤销")});
        else if (c.kind == Change::Kind::Renamed)
            renames.push_back({FileName::from_bytes(c.name), FileName::from_bytes(c.oldName), c.after});
        else
            safe.append(&c);
    }
    // A renamed file goes back only where its old name is free, or held by a
    // file that goes back too (a chain); dropping one may strand the file
    // whose old name it holds, which is looked at again.
    QHash<QByteArray, qsizetype> movingFrom; // current name -> move
    for (qsizetype i = 0; i < qsizetype(renames.size()); ++i)
        movingFrom.insert(renames[size_t(i)].from.bytes, i);
    std::vector<bool> dropped(renames.size(), false);
    QList<qsizetype> toCheck;
    for (qsizetype i = 0; i < qsizetype(renames.size()); ++i)
        toCheck << i;
    while (!toCheck.isEmpty()) {
        const qsizetype i = toCheck.takeLast();
        const RenameMove &m = renames[size_t(i)];
        if (dropped[size_t(i)] || !folder->stamp(m.to.bytes).exists() || movingFrom.contains(m.to.bytes))
            continue;
        dropped[size_t(i)] = true;
        report.problems.append(
            {m.from.shown(), QStringLiteral("原来的名字“%1”已被占用，未撤销").arg(m.to.shown())});
        movingFrom.remove(m.from.bytes);
        // The move whose old name is this file's name now finds it taken.
        for (qsizetype j = 0; j < qsizetype(renames.size()); ++j) {
            if (!dropped[size_t(j)] && renames[size_t(j)].to.bytes == m.from.bytes)
                toCheck << j;
        }
    }
    std::vector<RenameMove> kept;
    for (qsizetype i = 0; i < qsizetype(renames.size()); ++i) {
        if (!dropped[size_t(i)])
            kept.push_back(renames[size_t(i)]);
    }
    renames = std::move(kept);
    const int maximum = report.files + 1;
    int done = 0;
    auto step = [&] {
        if (progress)
            progress(++done, maximum);
    };
    if (progress)
        progress(0, maximum);
    if (!renames.empty()) {
        Report moved;
        execute_moves(*folder, renames, moved, step);
        report.changed += moved.changed;
        report.problems += moved.problems;
        report.status = moved.status;
        report.message = moved.message;
    }

    for (const Change *c : safe) {
        bool ok = false;
        if (c->kind == Change::Kind::Rewritten) {
            QByteArray former;
            ok = read_file(*backups, c->backup, nullptr, &former, &error) &&
                 save_file(*folder, c->name, &c->after, former, &error);
        } else {
            ok = folder->remove(c->name, c->after, &error);
        }
        if (ok)
            ++report.changed;
        else
            report.problems.append({shown(c->name), error});
        step();
    }
    folder->sync(&error);
    return report;
}

} // namespace torvale
