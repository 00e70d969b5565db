#pragma once

#include "report.h"

#include "files/filereader.h"
#include "files/folder.h"

#include <QDateTime>
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
    enum class State { Running, Done, Undone, PartlyUndone };
    QByteArray id;     // the run's folder in the history; ordered by time
    QString operation; // "rename", "replace", "html"
    QDateTime time;
    QByteArray folderPath;
    std::pair<quint64, quint64> folderIdentity;
    QStringList parameters; // as shown: "查找字符串：旧"
    bool undoable = true;   // false: there was no room for the former versions
    State state = State::Running;
    QList<Change> changes;   // in the order they were made
    QStringList notRestored; // named by a partial undo
    qint64 bytes = 0;        // of the former versions kept
};

class RunRecorder;

class History
{
public:
    // The history of this user, made (private to the user) when missing.
    // Nothing, with the reason, when it cannot be opened.
    static std::shared_ptr<History> open(QString *error);
    // The history in a folder of the caller's choosing (the tests').
    static std::shared_ptr<History> open_at(const NativePath &stateHome, QString *error);

    // The most the history keeps: the size set with set_limit (0 sets none),
    // or else 2 GiB or a tenth of the free space of its file system,
    // whichever is smaller.
    qint64 limit() const;
    bool set_limit(qint64 bytes, QString *error);
    // Whether a run that keeps this many bytes of former versions can be
    // taken back (older runs are dropped to make room).
    bool fits(qint64 bytes) const { return bytes <= limit(); }

    // Starts the record of a run in the folder, dropping the oldest runs
    // until `bytes` fit; undoable false records a run that cannot be taken
    // back (so that no undo skips over it).
    std::unique_ptr<RunRecorder> start(const Folder &folder, const QString &operation,
                                       const QStringList &parameters, qint64 bytes, bool undoable,
                                       QString *error);

    // The runs of a folder (every folder's without one), newest first.
    std::vector<HistoryRun> runs(const Folder *folder = nullptr) const;
    // The folder of a run's former versions.
    std::shared_ptr<Folder> kept_files(const HistoryRun &run, QString *error) const;
    // Notes that a run was taken back, all of it or all but the files named.
    bool mark_undone(const HistoryRun &run, const QStringList &notRestored, QString *error);
    // Forgets every run.
    bool clear(QString *error);

    const Folder &folder() const { return *m_folder; }

private:
    explicit History(std::shared_ptr<Folder> folder) : m_folder(std::move(folder)) {}
    void make_room(qint64 bytes) const;

    std::shared_ptr<Folder> m_folder;
};

// The record of one run while it goes on. Thread-safe: files are kept side
// by side.
class RunRecorder
{
public:
    ~RunRecorder();

    // Keeps the former version of a file about to be replaced (the one open
    // in the reader); its name in the run's folder goes into *id.
    bool keep(const FileReader &file, QByteArray *id, QString *error);
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
    std::unique_ptr<AppendFile> m_record;
    std::optional<FolderLock> m_lock; // while the run goes on, it is not dropped to make room
    bool m_sameFileSystem = false;    // with the folder of the run
    QMutex m_mutex;
    QByteArray m_pending;
    std::atomic<int> m_kept{0};
    std::atomic<qint64> m_keptBytes{0};
    std::atomic<int> m_copies{0}; // kept versions that are copies, not the files themselves
    bool m_failed = false;
};

} // namespace torvale
