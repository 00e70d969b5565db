#pragma once

#include <QObject>
#include <QString>

class FolderTree;
class QComboBox;
class QFileSystemModel;
class QModelIndex;

// Drive1 and Dir1: the volumes of the machine and the folder tree of the
// chosen one. Tells the window when the person chooses a folder; the
// window tells it which folder is the working folder.
class FolderPicker : public QObject
{
    Q_OBJECT

public:
    FolderPicker(QComboBox *Drive1, FolderTree *Dir1, QObject *parent);

    // Selects the folder in Dir1 (switching Drive1 to its volume) and
    // brings it into view: the person's choice, made on the command line.
    void choose(const QString &path);
    // Opens the tree at the folder, at the top of the view, choosing nothing.
    void reveal(const QString &path);
    // Shows the working folder selected, or nothing selected for none. The
    // tree does not move.
    void showChosen(const QString &path);

signals:
    // The person chose a folder in Dir1, or a volume in Drive1 (its root);
    // an empty path when they took the selection away.
    void folderChosen(const QString &path);

private:
    bool Drive1_Change();
    void showVolume(const QString &path);
    QModelIndex expandTo(const QString &path);

    QComboBox *m_drives;
    FolderTree *m_tree;
    QFileSystemModel *m_model = nullptr;
};
