#include "moves.h"

#include "journal.h"

#include <QSet>

namespace torvale {

void execute_moves(const Folder &folder, const std::vector<RenameMove> &moves, Report &report,
                   const std::function<void()> &stepDone)
{
    // A file whose new name is still held by a file of the batch that has not
    // moved yet waits under a temporary name; decided before the first rename.
    QSet<QByteArray> pending;
    for (const RenameMove &move : moves) {
        if (move.from != move.to)
            pending.insert(move.from.bytes);
    }
    QList<Parking> parked;
    QList<qsizetype> parkedRows;
    for (qsizetype row = 0; row < qsizetype(moves.size()); ++row) {
        const RenameMove &m = moves[size_t(row)];
        if (m.from == m.to)
            continue;
        pending.remove(m.from.bytes);
        if (pending.contains(m.to.bytes)) {
            parked.append({own_file_name(OwnFile::Parking), m.from.bytes, m.to.bytes});
            parkedRows.append(row);
        }
    }
    QString error;
    if (!parked.isEmpty() &&
        !(save_file(folder, kJournalName, nullptr, journal_text(parked), &error) && folder.sync(&error))) {
        report.status = Report::Status::Refused;
        report.message = QStringLiteral("无法在文件夹中记下更名的步骤（%1），没有文件被更名。").arg(error);
        return;
    }

    struct Step
    {
        QByteArray from;
        QByteArray to;
    };
    QList<Step> done; // to put back on failure
    QString failedName, failure;
    auto move = [&](const QByteArray &from, const QByteArray &to, const RenameMove &m) {
        if (!folder.rename(from, to, &error)) {
            failedName = m.from.shown();
            failure = error;
            return false;
        }
        // What moved must be the planned file, not something (a link, say)
        // put in its place between the check and the rename.
        const Stamp moved = folder.stamp(to);
        if (m.stamp.exists() &&
            (!moved.is_regular() || moved.inode != m.stamp.inode || moved.device != m.stamp.device)) {
            folder.rename(to, from, &error);
            failedName = m.from.shown();
            failure = QStringLiteral("文件在计划之后已被改动、改名或删除");
            return false;
        }
        done.append({from, to});
        return true;
    };

    qsizetype nextParking = 0;
    for (qsizetype row = 0; row < qsizetype(moves.size()) && failure.isEmpty(); ++row) {
        const RenameMove &m = moves[size_t(row)];
        if (m.stamp.exists() && !folder.stamp(m.from.bytes).same_file(m.stamp)) {
            failedName = m.from.shown();
            failure = QStringLiteral("文件在计划之后已被改动、改名或删除");
        } else if (nextParking < parkedRows.size() && parkedRows[nextParking] == row) {
            move(m.from.bytes, parked[nextParking++].temporary, m);
        } else if (m.from != m.to && move(m.from.bytes, m.to.bytes, m)) {
            ++report.changed;
        }
        if (stepDone && failure.isEmpty())
            stepDone();
    }
    for (qsizetype i = 0; i < parked.size() && failure.isEmpty(); ++i) {
        if (move(parked[i].temporary, parked[i].to, moves[size_t(parkedRows[i])]))
            ++report.changed;
    }

    QStringList notRestored;
    if (!failure.isEmpty()) {
        // Put everything back, newest first.
        for (qsizetype i = done.size() - 1; i >= 0; --i) {
            if (!folder.rename(done[i].to, done[i].from, &error)) {
                notRestored << QStringLiteral("%1 → %2：%3")
                                   .arg(FileName::from_bytes(done[i].to).shown(),
                                        FileName::from_bytes(done[i].from).shown(), error);
            }
        }
    }
    // The journal goes only when every file it lists has its place, and the
    // renames are on disk before it goes.
    if (!parked.isEmpty() && notRestored.isEmpty() && folder.sync(&error))
        folder.remove(kJournalName, folder.stamp(kJournalName), &error);
    if (!folder.sync(&error))
        report.problems.append({folder.path(), QStringLiteral("无法把改动写入磁盘：%1").arg(error)});
    if (failure.isEmpty())
        return;

    report.status = Report::Status::Failed;
    report.changed = 0;
    report.problems.append({failedName, failure});
    if (notRestored.isEmpty()) {
        report.message = QStringLiteral("文件“%1”更名失败：%2。已更名的文件都已恢复原名，文件夹保持原样。")
                             .arg(failedName, failure);
    } else {
        report.message = QStringLiteral("文件“%1”更名失败：%2。以下文件未能恢复原名：\n%3")
                             .arg(failedName, failure, notRestored.join(QLatin1Char('\n')));
    }
}

} // namespace torvale
