#include "undo.h"

#include "files/filesystem.h"

#include <QDir>
#include <QFileInfo>

namespace torvale {

Report undo_changes(const QString &dir, const QList<Change> &changes)
{
    Report report;
    report.files = int(changes.size());
    const QDir folder(dir);
    const QString changedSince = QStringLiteral("操作之后已被改动、改名或删除，未撤销");

    // First look at everything, then change what may be changed.
    QList<const Change *> safe;
    for (qsizetype i = changes.size() - 1; i >= 0; --i) {
        const Change &c = changes[i];
        if (fingerprint_of(folder.filePath(c.name)) != c.after) {
            report.problems.append({c.name, changedSince});
        } else if (c.kind == Change::Kind::Renamed && QFileInfo(folder.filePath(c.oldName)).exists()) {
            report.problems.append({c.name, QStringLiteral("原来的名字“%1”已被占用，未撤销").arg(c.oldName)});
        } else if (c.kind == Change::Kind::Rewritten && c.backup.isEmpty()) {
            report.problems.append({c.name, QStringLiteral("没有保存原来的内容，无法撤销")});
        } else {
            safe.append(&c);
        }
    }

    const Directory handle(dir);
    for (const Change *c : safe) {
        QString error;
        bool done = false;
        switch (c->kind) {
        case Change::Kind::Renamed:
            done = handle.rename_no_replace(c->name, c->oldName, &error);
            break;
        case Change::Kind::Rewritten: {
            QByteArray former;
            done = read_file(c->backup, &former, &error) && save_file(folder.filePath(c->name), former, &error);
            break;
        }
        case Change::Kind::Created:
            done = QFile::remove(folder.filePath(c->name));
            if (!done)
                error = QStringLiteral("无法删除");
            break;
        }
        if (done)
            ++report.changed;
        else
            report.problems.append({c->name, error});
    }
    return report;
}

} // namespace torvale
