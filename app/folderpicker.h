#pragma once

#include <QObject>
#include <QString>

class QComboBox;
class QFileSystemModel;
class QTreeView;

// Drive1 and Dir1: the volumes of the machine and the folder tree of the
// chosen one. Tells the window when the user (or the program) picks a folder.
class FolderPicker : public QObject
{
    Q_OBJECT

public:
    FolderPicker(QComboBox *Drive1, QTreeView *Dir1, QObject *parent);

    // Shows the folder in Dir1 (switching Drive1 to its volume), as a user's
    // choice would.
    void choose(const QString &path);

    // While a run changes the folder, the tree need not follow every change.
    void pause();
    void resume();

signals:
    void folderChosen(const QString &path);

private:
    void Drive1_Change();
    void useNewModel();
    void setCurrent(const QString &path);

    QComboBox *m_drives;
    QTreeView *m_tree;
    QFileSystemModel *m_model = nullptr;
    QString m_shownPath; // the folder chosen last, kept in view while the tree loads
};
