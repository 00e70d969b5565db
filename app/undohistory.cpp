#include "undohistory.h"

#include "ops/undo.h"

#include <QDir>
#include <QMutex>
#include <QSet>
#include <QThread>

#include <algorithm>

#include <cstdlib>

namespace {

// The private folders with former bytes that exist now. The program removes
// them as it ends; should it end abruptly (the display gone, say), this
// removes what is left at exit.
struct LiveBackups
{
    QMutex mutex;
    QSet<QString> paths;
};

LiveBackups &live_backups()
{
    static LiveBackups *live = [] {
        std::atexit([] {
            QMutexLocker lock(&live_backups().mutex);
            for (const QString &path : std::as_const(live_backups().paths))
                QDir(path).removeRecursively();
        });
        return new LiveBackups; // never destroyed: needed until the very end
    }();
    return *live;
}

void track(const QString &path, bool live)
{
    QMutexLocker lock(&live_backups().mutex);
    if (live)
        live_backups().paths.insert(path);
    else
        live_backups().paths.remove(path);
}

} // namespace

QString UndoHistory::prepareBackups()
{
    m_prepared = std::make_unique<QTemporaryDir>();
    if (!m_prepared->isValid())
        return {};
    track(m_prepared->path(), true);
    return m_prepared->path();
}

void UndoHistory::record(torvale::Operation operation, const std::shared_ptr<torvale::Folder> &folder,
                         const QList<torvale::Change> &changes)
{
    if (changes.isEmpty()) {
        discardPrepared();
        return;
    }
    clear();
    m_operation = operation;
    m_folder = folder->native_path();
    m_identity = folder->identity();
    m_changes = changes;
    m_backups = std::move(m_prepared);
}

void UndoHistory::discardPrepared()
{
    if (m_prepared)
        track(m_prepared->path(), false);
    m_prepared.reset();
}

QString UndoHistory::question() const
{
    using Kind = torvale::Change::Kind;
    auto count = [this](Kind kind) {
        return int(std::count_if(m_changes.cbegin(), m_changes.cend(),
                                 [kind](const torvale::Change &c) { return c.kind == kind; }));
    };
    const bool pages = m_operation == torvale::Operation::Convert;
    QStringList steps;
    if (const int n = count(Kind::Renamed))
        steps << QStringLiteral("把 %1 个文件改回原来的名字").arg(n);
    if (const int n = count(Kind::Rewritten))
        steps << (pages ? QStringLiteral("把 %1 个被替换的网页恢复原样")
                        : QStringLiteral("把 %1 个文件恢复为替换前的内容"))
                     .arg(n);
    if (const int n = count(Kind::Created))
        steps << QStringLiteral("删除生成的 %1 个网页").arg(n);
    return QStringLiteral("撤销上次的“%1”操作？\n\n%2\n将%3。")
        .arg(torvale::operation_name(m_operation), QStringLiteral("文件夹：") + folder(),
             steps.join(QStringLiteral("，")));
}

QString UndoHistory::folder() const
{
    return torvale::FileName::from_bytes(m_folder).text();
}

torvale::Report UndoHistory::undo(const torvale::Progress &progress)
{
    QString error;
    std::shared_ptr<torvale::Folder> backups;
    if (m_backups)
        backups = torvale::Folder::open(m_backups->path(), &error, false);
    const std::shared_ptr<torvale::Folder> folder = torvale::Folder::open(m_folder, &error);
    torvale::Report report;
    if (!folder)
        report = torvale::refused(error);
    else if (folder->identity() != m_identity)
        report = torvale::refused(
            QStringLiteral("文件夹“%1”已被移动或换成了另一个文件夹，无法撤销。").arg(folder->path()));
    else
        report = torvale::undo_changes(folder, m_changes, backups.get(), progress);
    return report;
}

void UndoHistory::clear()
{
    m_changes.clear();
    if (!m_backups)
        return;
    // Removing the copies of many files takes a while: not on the window's thread.
    QTemporaryDir *backups = m_backups.release();
    QThread *removal = QThread::create([backups] {
        const QString path = backups->path();
        delete backups;
        track(path, false);
    });
    m_removals.erase(std::remove_if(m_removals.begin(), m_removals.end(),
                                    [](QThread *done) { return done->isFinished() && (delete done, true); }),
                     m_removals.end());
    m_removals.push_back(removal);
    removal->start();
}

UndoHistory::~UndoHistory()
{
    clear();
    discardPrepared();
    for (QThread *removal : m_removals) {
        removal->wait();
        delete removal;
    }
}
