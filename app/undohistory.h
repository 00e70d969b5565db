#pragma once

#include "ops/report.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <vector>

class QThread;

// The last completed run of this session, to take it back: its name, its
// folder, its changes, and the private folder (outside the user's folder)
// with the former bytes of the files it rewrote. Nothing outlives the program.
class UndoHistory
{
public:
    // A fresh private folder for the former bytes of the run about to start.
    QString prepareBackups();

    // The run went to its end: it becomes the one that undo takes back (a run
    // that changed nothing leaves nothing to undo).
    void record(const QString &name, const std::shared_ptr<torvale::Folder> &folder,
                const QList<torvale::Change> &changes);
    // The run did not go to its end: its backups go.
    void discardPrepared();

    bool available() const { return !m_changes.isEmpty(); }
    QString question() const;

    // Takes the run back, and forgets it.
    torvale::Report undo(const torvale::Progress &progress);

    // Removes every backup (also at the program's end).
    void clear();
    ~UndoHistory();

private:
    QString m_name;
    // The folder by path and identity, not held open: a volume can be
    // unmounted meanwhile, and undo refuses a folder that is another now.
    QByteArray m_folder;
    std::pair<quint64, quint64> m_identity;
    QList<torvale::Change> m_changes;
    std::unique_ptr<QTemporaryDir> m_backups;
    std::unique_ptr<QTemporaryDir> m_prepared;
    std::vector<QThread *> m_removals; // backups of many files go in the background
};
