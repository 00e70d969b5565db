#pragma once

#include <QPersistentModelIndex>
#include <QTreeView>

// Dir1, the folder tree. It tells a folder that the person selects (with the
// mouse or a key) from the view's own moves, such as the neighbour that Qt
// makes current when a row goes away; it moves only when the person scrolls
// it or selects a folder, and keeps what the person sees in place while rows
// arrive, go or are sorted; it shows when it has the keyboard focus.
class FolderTree : public QTreeView
{
    Q_OBJECT

public:
    explicit FolderTree(QWidget *parent);
    void setModel(QAbstractItemModel *model) override;
    QModelIndex selectedFolder() const;
    // Brings the row into view, and keeps it there while rows load, until
    // the person first touches the tree.
    void showUntilTouched(const QModelIndex &index, ScrollHint hint);

signals:
    // The person selected this folder, or none (an invalid index).
    void selectedByPerson(const QModelIndex &index);

protected:
    bool event(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    template <typename Handle> void byPerson(Handle handle);
    void holdPlace();
    void restorePlace();

    int m_personActing = 0;
    QPersistentModelIndex m_follow; // shown until the person touches the tree
    ScrollHint m_followHint = EnsureVisible;
    QPersistentModelIndex m_anchor; // the row that stays where it is on the screen
    int m_anchorTop = 0;
    bool m_holding = false;
};
