#include "foldertree.h"

#include <QCursor>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

// The serif's underscore lies below the line the font reports, where a row of
// the line's height cuts it off ("orig_set" read "orig set"): rows get room for it.
class RoomyRows : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QSize size = QStyledItemDelegate::sizeHint(option, index);
        return {size.width(), size.height() + option.fontMetrics.descent() + 2};
    }
};

} // namespace

FolderTree::FolderTree(QWidget *parent) : QTreeView(parent)
{
    // Qt scrolls to every new current row, also one it picks itself; the
    // person's own moves are brought into view below.
    setAutoScroll(false);
    setVerticalScrollMode(ScrollPerPixel);
    setUniformRowHeights(true);
    setSelectionMode(SingleSelection);
    setItemDelegate(new RoomyRows(this));
    // The chosen folder shows in grey while the tree does not have the
    // focus, in the highlight colour while it has.
    QPalette colours = palette();
    colours.setColor(QPalette::Inactive, QPalette::Highlight,
                     colours.color(QPalette::Inactive, QPalette::Midlight));
    colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     colours.color(QPalette::Inactive, QPalette::Text));
    setPalette(colours);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] { m_follow = QModelIndex(); });
}

void FolderTree::showUntilTouched(const QModelIndex &index, ScrollHint hint)
{
    m_follow = index;
    m_followHint = hint;
    scrollTo(index, hint);
}

void FolderTree::setModel(QAbstractItemModel *model)
{
    QTreeView::setModel(model);
    for (auto before :
         {&QAbstractItemModel::rowsAboutToBeInserted, &QAbstractItemModel::rowsAboutToBeRemoved})
        connect(model, before, this, [this] { holdPlace(); });
    for (auto after : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(model, after, this, [this] { restorePlace(); });
    connect(model, &QAbstractItemModel::layoutAboutToBeChanged, this, [this] { holdPlace(); });
    connect(model, &QAbstractItemModel::layoutChanged, this, [this] { restorePlace(); });
}

QModelIndex FolderTree::selectedFolder() const
{
    const QModelIndexList selected =
        selectionModel() ? selectionModel()->selectedIndexes() : QModelIndexList();
    return selected.isEmpty() ? QModelIndex() : selected.first().siblingAtColumn(0);
}

// The row under the mouse stays where it is, so that a click lands where it
// was aimed; else the row at the top. A row shown for a choice made on the
// command line is kept in view until the person first touches the tree.
void FolderTree::holdPlace()
{
    if (m_holding)
        return;
    m_holding = true;
    if (m_follow.isValid())
        return;
    m_anchor = viewport()->underMouse() ? indexAt(viewport()->mapFromGlobal(QCursor::pos())) : QModelIndex();
    if (!m_anchor.isValid())
        m_anchor = indexAt(QPoint(0, 0));
    m_anchorTop = visualRect(m_anchor).top();
}

void FolderTree::restorePlace()
{
    if (!m_holding)
        return;
    m_holding = false;
    if (m_follow.isValid())
        return scrollTo(m_follow, m_followHint);
    const QRect now = m_anchor.isValid() ? visualRect(m_anchor) : QRect();
    if (!now.isValid() || now.top() == m_anchorTop)
        return;
    // The scroll bar's range takes in the new rows only when the view lays
    // them out, later: it may grow now.
    QScrollBar *bar = verticalScrollBar();
    const int value = bar->value() + now.top() - m_anchorTop;
    bar->setMaximum(std::max(bar->maximum(), value));
    bar->setValue(value);
}

template <typename Handle> void FolderTree::byPerson(Handle handle)
{
    ++m_personActing;
    handle();
    --m_personActing;
}

void FolderTree::mousePressEvent(QMouseEvent *event)
{
    byPerson([&] { QTreeView::mousePressEvent(event); });
}

void FolderTree::mouseMoveEvent(QMouseEvent *event)
{
    byPerson([&] { QTreeView::mouseMoveEvent(event); });
}

void FolderTree::mouseReleaseEvent(QMouseEvent *event)
{
    byPerson([&] { QTreeView::mouseReleaseEvent(event); });
}

void FolderTree::mouseDoubleClickEvent(QMouseEvent *event)
{
    byPerson([&] { QTreeView::mouseDoubleClickEvent(event); });
}

void FolderTree::keyPressEvent(QKeyEvent *event)
{
    byPerson([&] { QTreeView::keyPressEvent(event); });
}

void FolderTree::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTreeView::currentChanged(current, previous);
    if (m_personActing && current.isValid())
        scrollTo(current);
}

void FolderTree::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    QTreeView::selectionChanged(selected, deselected);
    if (m_personActing)
        emit selectedByPerson(selectedFolder());
}

void FolderTree::focusInEvent(QFocusEvent *event)
{
    QTreeView::focusInEvent(event);
    update();
}

void FolderTree::focusOutEvent(QFocusEvent *event)
{
    QTreeView::focusOutEvent(event);
    update();
}

bool FolderTree::viewportEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::Resize: // laid out once shown: the row shown for a choice comes into view then
        if (m_follow.isValid())
            QMetaObject::invokeMethod(
                this, [this] { m_follow.isValid() ? scrollTo(m_follow, m_followHint) : void(); },
                Qt::QueuedConnection);
        break;
    case QEvent::MouseMove: // not Enter: a window that opens under a resting pointer is not touched
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
        m_follow = QModelIndex();
        break;
    default:
        break;
    }
    return QTreeView::viewportEvent(event);
}

bool FolderTree::event(QEvent *event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::FocusIn)
        m_follow = QModelIndex();
    const bool handled = QTreeView::event(event);
    // The focus mark: the frame in the highlight colour, drawn around the
    // rows (not on them, as they scroll).
    if (event->type() == QEvent::Paint && hasFocus()) {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::Highlight));
        for (int inset = 0; inset < frameWidth(); ++inset)
            painter.drawRect(rect().adjusted(inset, inset, -1 - inset, -1 - inset));
    }
    return handled;
}
