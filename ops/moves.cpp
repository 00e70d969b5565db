#include "moves.h"

#include "files/filewriter.h"

#include "journal.h"
#include "nameindex.h"

#include <algorithm>
#include <numeric>

namespace torvale {

namespace {

// One rename done, to put back on failure.
struct Step
{
    enum Kind : quint8 { Direct, Park, Unpark };
    qint32 row;
    Kind kind;
};

} // namespace

void execute_moves(const Folder &folder, const std::vector<Entry> &from, const std::vector<FileName> &to,
                   Report &report, const std::function<void()> &stepDone, const StopRequest *stop)
{
    const qint32 count = qint32(from.size());
    // The rows by old name, to tell whether a new name is still held by a
    // file of the batch that has not moved yet (a later row).
    std::vector<qint32> byName(size_t(count), 0);
    std::iota(byName.begin(), byName.end(), 0);
    std::sort(byName.begin(), byName.end(),
              [&](qint32 a, qint32 b) { return from[size_t(a)].name.bytes < from[size_t(b)].name.bytes; });
    auto row_named = [&](const QByteArray &name) {
        const auto it =
            std::lower_bound(byName.begin(), byName.end(), name, [&](qint32 row, const QByteArray &n) {
                return from[size_t(row)].name.bytes < n;
            });
        return it != byName.end() && from[size_t(*it)].name.bytes == name ? *it : -1;
    };
    auto moves = [&](qint32 row) { return from[size_t(row)].name != to[size_t(row)]; };

    // Decided before the first rename: who waits under a temporary name.
    QList<Parking> parked;
    std::vector<qint32> parkedRows; // ascending
    for (qint32 row = 0; row < count; ++row) {
        const qint32 holder = moves(row) ? row_named(to[size_t(row)].bytes) : -1;
        if (holder > row && moves(holder)) {
            parked.append(
                {own_file_name(OwnFile::Parking), from[size_t(row)].name.bytes, to[size_t(row)].bytes});
            parkedRows.push_back(row);
        }
    }
    auto temporary_of = [&](qint32 row) -> const QByteArray & {
        return parked[std::lower_bound(parkedRows.begin(), parkedRows.end(), row) - parkedRows.begin()]
            .temporary;
    };
    QString error;
    if (!parked.isEmpty() &&
        !(save_file(folder, kJournalName, nullptr, journal_text(parked), &error) && folder.sync(&error))) {
        QString ignored; // a journal written but not made durable lists nothing that happened
        folder.remove(kJournalName, folder.stamp(kJournalName), &ignored);
        report.status = Report::Status::Refused;
        report.message = QStringLiteral("无法在文件夹中记下更名的步骤（%1），没有文件被更名。").arg(error);
        return;
    }

    std::vector<Step> done;
    QStringList notRestored; // "where it is → its name before: why"
    QString failedName, failure;
    auto fail = [&](qint32 row, const QString &why) {
        failedName = from[size_t(row)].name.shown();
        failure = why;
        return false;
    };
    auto rename = [&](qint32 row, Step::Kind kind) {
        const Entry &source = from[size_t(row)];
        const QByteArray &a = kind == Step::Unpark ? temporary_of(row) : source.name.bytes;
        const QByteArray &b = kind == Step::Park ? temporary_of(row) : to[size_t(row)].bytes;
        if (!folder.rename(a, b, &error))
            return fail(row, error);
        // What moved must be the planned file, unchanged: not a file changed
        // since the plan, nor something (a link, say) put in its place. Looked
        // at once, after the move, which is put back when it is not.
        Stamp moved;
        QString lookError;
        const bool looked = folder.look_up(b, &moved, &lookError);
        if (source.stamp.exists() && !(looked && moved.same_file(source.stamp))) {
            if (!folder.rename(b, a, &error))
                notRestored << QStringLiteral("%1 → %2：%3")
                                   .arg(FileName::from_bytes(b).shown(), FileName::from_bytes(a).shown(),
                                        error);
            return fail(row, looked ? QStringLiteral("文件在计划之后已被改动、改名或删除")
                                    : QStringLiteral("无法确认被更名的文件（%1）").arg(lookError));
        }
        done.push_back({row, kind});
        return true;
    };

    // Past this row a stop finishes the batch: putting back would take longer.
    const qint32 nearlyDone = count - count / 10;
    bool stopped = false;
    size_t nextParked = 0;
    for (qint32 row = 0; row < count && failure.isEmpty(); ++row) {
        if (stop && *stop && row < nearlyDone) {
            stopped = true;
            failure = QStringLiteral("操作被停止");
            break;
        }
        // A folder made read-only meanwhile stops the batch, which goes back.
        if (row % 256 == 255 && !folder.check_writable().isEmpty()) {
            failedName = folder.path();
            failure = QStringLiteral("文件夹在处理期间被设为只读或不能写入");
            break;
        }
        if (nextParked < parkedRows.size() && parkedRows[nextParked] == row) {
            rename(row, Step::Park);
            ++nextParked;
        } else if (moves(row) && rename(row, Step::Direct)) {
            ++report.changed;
        }
        if (stepDone && failure.isEmpty())
            stepDone();
    }
    for (size_t i = 0; i < parkedRows.size() && failure.isEmpty(); ++i) {
        if (rename(parkedRows[i], Step::Unpark))
            ++report.changed;
    }

    if (!failure.isEmpty()) {
        // Put everything back, newest first.
        for (auto step = done.rbegin(); step != done.rend(); ++step) {
            const qint32 row = step->row;
            const QByteArray &original =
                step->kind == Step::Unpark ? temporary_of(row) : from[size_t(row)].name.bytes;
            const QByteArray &now = step->kind == Step::Park ? temporary_of(row) : to[size_t(row)].bytes;
            if (!folder.rename(now, original, &error)) {
                notRestored << QStringLiteral("%1 → %2：%3")
                                   .arg(FileName::from_bytes(now).shown(),
                                        FileName::from_bytes(original).shown(), error);
            }
        }
    }
    // The journal goes only when every file it lists has its place, and the
    // renames are on disk before it goes.
    if (!parked.isEmpty() && notRestored.isEmpty() &&
        !(folder.sync(&error) && folder.remove(kJournalName, folder.stamp(kJournalName), &error)))
        report.notes << QStringLiteral("更名记录“%1”无法删除（%2），下一次操作会处理它。")
                            .arg(QString::fromLatin1(kJournalName), error);
    if (!folder.sync(&error))
        note_unsynced(report, folder, error);
    if (failure.isEmpty())
        return;

    report.changed = 0;
    if (stopped) {
        report.status = Report::Status::Stopped;
        report.message = notRestored.isEmpty()
                             ? QStringLiteral("操作已停止：已更名的文件都已恢复原名，文件夹保持原样。")
                             : QStringLiteral("操作已停止。以下文件未能恢复原名：\n%1")
                                   .arg(notRestored.join(QLatin1Char('\n')));
        return;
    }
    report.status = Report::Status::Failed;
    const bool wholeFolder = failedName == folder.path();
    report.problems.append({failedName, failure, wholeFolder});
    const QString what = wholeFolder ? QStringLiteral("更名中止：%1").arg(failure)
                                     : QStringLiteral("文件“%1”更名失败：%2").arg(failedName, failure);
    report.message =
        notRestored.isEmpty()
            ? what + QStringLiteral("。已更名的文件都已恢复原名，文件夹保持原样。")
            : what + QStringLiteral("。以下文件未能恢复原名：\n%1").arg(notRestored.join(QLatin1Char('\n')));
}

} // namespace torvale
