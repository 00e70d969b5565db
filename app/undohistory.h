#pragma once

#include "ops/describe.h"

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

    // What the run changed (also one that was stopped or failed part-way)
    // becomes what undo takes back. A run that changed nothing leaves the
    // run before it to be taken back.
    void record(torvale::Operation operation, const std::shared_ptr<torvale::Folder> &folder,
                const QList<torvale::Change> &changes);
    // The run changed nothing: its backups go.
    void discardPrepared();

    bool available() const { return !m_changes.isEmpty(); }
    // "撤销上次的“TXT→HTML”操作？", the folder, and what undo does, in the operation's words.
    QString question() const;
    // The folder of the run, for the report of its undo.
    QString folder() const;

    // Takes the run back (also on another thread); clear() then forgets it.
    torvale::Report undo(const torvale::Progress &progress);

    // Removes every backup (also at the program's end).
    void clear();
    ~UndoHistory();

private:
    torvale::Operation m_operation = torvale::Operation::Undo;
    // The folder by path and identity, not held open: a volume can be
    // unmounted meanwhile, and undo refuses a folder that is another now.
    QByteArray m_folder;
    std::pair<quint64, quint64> m_identity;
    QList<torvale::Change> m_changes;
    std::unique_ptr<QTemporaryDir> m_backups;
    std::unique_ptr<QTemporaryDir> m_prepared;
    std::vector<QThread *> m_removals; // backups of many files go in the background
};
