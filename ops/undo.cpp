#include "undo.h"

#include "rename.h"

#include "files/filesystem.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace torvale {

Report undo_changes(const QString &dir, const QList<Change> &changes)
{
    Report report;
    report.files = int(changes.size());
    const QDir folder(dir);
    const QString changedSince = QStringLiteral("操作之后已被改动、改名或删除，未撤销");

    // First look at everything, then change what may be changed.
    QList<const Change *> safe;
    QList<RenameMove> renames;
    for (qsizetype i = changes.size() - 1; i >= 0; --i) {
        const Change &c = changes[i];
        if (fingerprint_of(folder.filePath(c.name)) != c.after)
            report.problems.append({c.name, changedSince});
        else if (c.kind == Change::Kind::Rewritten && c.backup.isEmpty())
            report.problems.append({c.name, QStringLiteral("没有保存原来的内容，无法撤销")});
        else if (c.kind == Change::Kind::Renamed)
            renames.append({c.name, c.oldName});
        else
            safe.append(&c);
    }
    // A renamed file goes back only where its old name is free, or held by a
    // file that goes back too (a chain); dropping one may strand another.
    for (bool dropped = true; dropped;) {
        dropped = false;
        QSet<QString> moving;
        for (const RenameMove &m : renames)
            moving.insert(m.from);
        for (qsizetype i = 0; i < renames.size(); ++i) {
            const QString old = folder.filePath(renames[i].to);
            if ((QFileInfo::exists(old) || QFileInfo(old).isSymLink()) && !moving.contains(renames[i].to)) {
                report.problems.append({renames[i].from, QStringLiteral("原来的名字“%1”已被占用，未撤销").arg(renames[i].to)});
                renames.removeAt(i);
                dropped = true;
                break;
            }
        }
    }
    if (!renames.isEmpty()) {
        Report moved;
        execute_moves(dir, renames, moved);
        report.changed += moved.changed;
        report.problems += moved.problems;
        report.status = moved.status;
        report.message = moved.message;
    }

    for (const Change *c : safe) {
        QString error;
        bool done = false;
        if (c->kind == Change::Kind::Rewritten) {
            QByteArray former;
            done = read_file(c->backup, &former, &error) && save_file(folder.filePath(c->name), former, &error);
        } else {
            done = QFile::remove(folder.filePath(c->name));
            if (!done)
                error = QStringLiteral("无法删除");
        }
        if (done)
            ++report.changed;
        else
            report.problems.append({c->name, error});
    }
    return report;
}

} // namespace torvale
