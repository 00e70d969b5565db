#pragma once

#include "report.h"

#include "files/filereader.h"
#include "files/folder.h"

#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace torvale {

class AppendFile;

// Every run that changed files, kept per user outside the folders so that it
// outlives the program: $XDG_STATE_HOME/torvale (~/.local/state/torvale),
// a private folder. A run has a folder of its own there, with its record
// (the folder by path and identity, the operation, its parameters, the time,
// every change) and the former version of every file it replaced. Both are
// on disk before the file they are about changes, so that a run killed
// half-way is taken back for the part it did. The history never follows a
// link, and keeps at most a bounded size, dropping the oldest runs first.
struct HistoryRun
{
    enum class State { Running, Done, Undone };
    QByteArray id;     // the run's folder in the history: a number that orders the runs, then the time
    QString operation; // "rename", "replace", "html"
    QDateTime time;
    QByteArray folderPath;
    std::pair<quint64, quint64> folderIdentity;
    qint64 folderBirth = 0;
    QStringList parameters; // as shown: "查找字符串：旧"
    bool undoable = true;   // false: there was no room for the former versions
    State state = State::Running;
    QList<Change> changes;   // in the order they were made
    QStringList notRestored; // named by an undo as left alone
    // The files an undo put back, as they are since: a file restored from a
    // copy is a new file, and still counts as the run before left it.
    QHash<QByteArray, Stamp> restored;
    qint64 bytes = 0; // the room the run takes in the history

    // Whether an undo would take it back: it changed files, and is not taken back yet.
    bool open() const { return state != State::Undone; }
};

class RunRecorder;

class History
{
public:
    // The history of this user, made (private to the user) when missing.
    // Nothing, with the reason, when it cannot be opened.
    static std::shared_ptr<History> open(QString *error);
    // The history in a folder of the caller's choosing.
    static std::shared_ptr<History> open_at(const NativePath &stateHome, QString *error);

    // The most the history keeps: the size set with set_limit, or 2 GiB or a
    // tenth of the free space of its file system, whichever is smaller.
    qint64 limit() const;
    bool set_limit(qint64 bytes, QString *error);
    // Whether a run that keeps this many bytes of former versions can be
    // taken back (older runs are dropped to make room).
    bool fits(qint64 bytes) const { return bytes <= limit(); }

    // Starts the record of a run in the folder. A run that is not undoable
    // keeps no former versions: it is recorded so that the history says so.
    std::unique_ptr<RunRecorder> start(const Folder &folder, const QString &operation,
                                       const QStringList &parameters, bool undoable, QString *error);

    // The runs of a folder (every folder's without one), newest first.
    std::vector<HistoryRun> runs(const Folder *folder = nullptr) const;
    // The folder of a run's former versions.
    std::shared_ptr<Folder> kept_files(const HistoryRun &run, QString *error) const;
    // Notes files an undo put back (as they are now), and, when the undo is
    // over, that the run is taken back, but for the files named.
    bool mark_restored(const HistoryRun &run, const QHash<QByteArray, Stamp> &restored, QString *error);
    bool mark_undone(const HistoryRun &run, const QStringList &notRestored, QString *error);
    // Forgets every run but those going on now (it says how many stay).
    bool clear(int *kept, QString *error);

    const Folder &folder() const { return *m_folder; }

private:
    explicit History(std::shared_ptr<Folder> folder) : m_folder(std::move(folder)) {}

    std::shared_ptr<Folder> m_folder;
};

// The record of one run while it goes on. Thread-safe: files are kept side
// by side.
class RunRecorder
{
public:
    ~RunRecorder();

    // Whether the run keeps former versions (it is undoable).
    bool keeping() const { return m_undoable; }
    // Keeps the former version of a file about to be replaced (the one open
    // in the reader), dropping the oldest runs when the history would grow
    // past its limit; its name in the run's folder goes into *id.
    bool keep(FileReader &file, QByteArray *id, QString *error);
    // Records a change about to be made; durable at the next commit.
    void add(const Change &change);
    // Makes the kept versions and the changes recorded so far durable: done
    // before the files they are about change.
    bool commit(QString *error);
    // The run is over, having changed this many files: a run that changed
    // nothing leaves nothing in the history.
    void finish(int changed);

private:
    friend class History;
    RunRecorder() = default;

    std::shared_ptr<Folder> m_history;
    std::shared_ptr<Folder> m_run;
    QByteArray m_id;
    bool m_undoable = true;
    std::unique_ptr<AppendFile> m_record;
    std::optional<FolderLock> m_lock; // while the run goes on, it is not dropped to make room
    QMutex m_mutex;
    QByteArray m_pending;
    // The room the other runs take, oldest first, and what may be used.
    std::vector<std::pair<QByteArray, qint64>> m_others;
    qint64 m_othersBytes = 0;
    qint64 m_limit = 0;
    std::atomic<int> m_kept{0};
    std::atomic<qint64> m_keptBytes{0};
    std::atomic<int> m_copies{0}; // kept versions that are copies, not the files themselves
    bool m_failed = false;
};

} // namespace torvale
