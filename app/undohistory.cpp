#include "undohistory.h"

#include "ops/undo.h"

QString UndoHistory::prepareBackups()
{
    m_prepared = std::make_unique<QTemporaryDir>();
    return m_prepared->isValid() ? m_prepared->path() : QString();
}

void UndoHistory::record(const QString &name, const std::shared_ptr<torvale::Folder> &folder,
                         const QList<torvale::Change> &changes)
{
    clear();
    m_name = name;
    m_folder = folder;
    m_changes = changes;
    m_backups = std::move(m_prepared);
}

void UndoHistory::discardPrepared()
{
    m_prepared.reset();
}

QString UndoHistory::question() const
{
    return QStringLiteral("撤销上次的“%1”操作，恢复 %2 个文件？").arg(m_name).arg(m_changes.size());
}

torvale::Report UndoHistory::undo(const torvale::Progress &progress)
{
    QString error;
    std::shared_ptr<torvale::Folder> backups;
    if (m_backups)
        backups = torvale::Folder::open(m_backups->path(), &error, false);
    const torvale::Report report = torvale::undo_changes(m_folder, m_changes, backups.get(), progress);
    clear();
    return report;
}

void UndoHistory::clear()
{
    m_changes.clear();
    m_folder.reset();
    m_backups.reset();
}
