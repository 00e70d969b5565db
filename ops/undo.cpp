#include "undo.h"

#include "files/filewriter.h"

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
    std::vector<Entry> renamed;        // files to rename back, as they are now
    std::vector<FileName> formerNames; // and their names before the run
    for (qsizetype i = changes.size() - 1; i >= 0; --i) {
        const Change &c = changes[i];
        if (!folder->stamp(c.name).same_file(c.after)) {
            report.problems.append({shown(c.name), changedSince});
        } else if (c.kind == Change::Kind::Rewritten && (c.backup.isEmpty() || !backups)) {
            report.problems.append({shown(c.name), QStringLiteral("没有保存原来的内容，无法撤销")});
        } else if (c.kind == Change::Kind::Renamed) {
            renamed.push_back({FileName::from_bytes(c.name), c.after});
            formerNames.push_back(FileName::from_bytes(c.oldName));
        } else {
            safe.append(&c);
        }
    }
    // A renamed file goes back only where its old name is free, or held by a
    // file that goes back too (a chain); dropping one may strand the file
    // whose old name it holds, which is looked at again.
    QHash<QByteArray, qsizetype> movingFrom, wanting; // current name -> move; old name -> move
    for (qsizetype i = 0; i < qsizetype(renamed.size()); ++i) {
        movingFrom.insert(renamed[size_t(i)].name.bytes, i);
        wanting.insert(formerNames[size_t(i)].bytes, i);
    }
    std::vector<bool> dropped(renamed.size(), false);
    QList<qsizetype> toCheck;
    for (qsizetype i = 0; i < qsizetype(renamed.size()); ++i)
        toCheck << i;
    while (!toCheck.isEmpty()) {
        const qsizetype i = toCheck.takeLast();
        const QByteArray &now = renamed[size_t(i)].name.bytes, &former = formerNames[size_t(i)].bytes;
        if (dropped[size_t(i)] || !folder->stamp(former).exists() || movingFrom.contains(former))
            continue;
        dropped[size_t(i)] = true;
        report.problems.append(
            {renamed[size_t(i)].name.shown(),
             QStringLiteral("原来的名字“%1”已被占用，未撤销").arg(formerNames[size_t(i)].shown())});
        movingFrom.remove(now);
        if (const auto next = wanting.constFind(now); next != wanting.constEnd())
            toCheck << *next; // it wanted this file's name back
    }
    std::vector<Entry> from;
    std::vector<FileName> to;
    for (size_t i = 0; i < renamed.size(); ++i) {
        if (!dropped[i]) {
            from.push_back(renamed[i]);
            to.push_back(formerNames[i]);
        }
    }
    const int maximum = report.files + 1;
    int done = 0;
    auto step = [&] {
        if (progress)
            progress(++done, maximum);
    };
    if (progress)
        progress(0, maximum);
    if (!from.empty()) {
        Report moved;
        execute_moves(*folder, from, to, moved, step);
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
