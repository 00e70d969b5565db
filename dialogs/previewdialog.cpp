#include "previewdialog.h"

#include <QAbstractTableModel>
#include <QBrush>
#include <QColor>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace {

// The rows of one section for a table view: a folder of 100,000 files is
// one model, not 100,000 widgets.
class PreviewModel : public QAbstractTableModel
{
public:
    PreviewModel(const torvale::PlanTable &section, QObject *parent)
        : QAbstractTableModel(parent), m_section(section)
    {
    }

    int rowCount(const QModelIndex &parent) const override
    {
        return parent.isValid() ? 0 : m_section.rowCount;
    }
    int columnCount(const QModelIndex &parent) const override
    {
        return parent.isValid() ? 0 : int(m_section.headers.size());
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        // A long reason is shown whole in the cell's tooltip.
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return m_section.cells(index.row()).value(index.column());
        if (role == Qt::BackgroundRole && m_section.marked(index.row()))
            return QBrush(QColor(0xFF, 0xD0, 0xD0));
        return {};
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (role == Qt::DisplayRole && orientation == Qt::Horizontal)
            return m_section.headers.value(section);
        return QAbstractTableModel::headerData(section, orientation, role);
    }

private:
    const torvale::PlanTable m_section;
};

QString statement_lines(const QString &text)
{
    constexpr int kLongest = 300;
    return text.size() <= kLongest ? text
                                   : text.left(kLongest / 2) + QStringLiteral("…") + text.right(kLongest / 2);
}

} // namespace

PreviewDialog::PreviewDialog(const QList<torvale::PlanTable> &sections, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("PreviewDialog"));
    setWindowTitle(QStringLiteral("预览"));
    setModal(true);
    resize(560, 420);

    m_tabs = new QTabWidget(this);
    for (const torvale::PlanTable &section : sections) {
        m_operations << section.operation;
        auto *page = new QWidget;
        auto *layout = new QVBoxLayout(page);
        auto *folder = new QLabel(section.folder);
        folder->setObjectName(QStringLiteral("folder"));
        folder->setWordWrap(true);
        folder->setVisible(!section.folder.isEmpty());
        layout->addWidget(folder);
        // A long statement (a 4,000-character name, say) is shortened to a
        // few lines, so that the dialog fits the screen; the tooltip has it whole.
        auto *statement = new QLabel(statement_lines(section.statement));
        statement->setToolTip(section.statement);
        statement->setObjectName(QStringLiteral("statement"));
        statement->setWordWrap(true);
        statement->setStyleSheet(QStringLiteral("color: #C00000;"));
        statement->setVisible(!section.statement.isEmpty());
        layout->addWidget(statement);
        auto *table = new QTableView;
        table->setObjectName(QStringLiteral("table"));
        table->setModel(new PreviewModel(section, table));
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->setTabKeyNavigation(false); // Tab goes on to the buttons
        table->horizontalHeader()->setStretchLastSection(true);
        table->verticalHeader()->setDefaultSectionSize(20);
        layout->addWidget(table);
        m_tabs->addTab(page, torvale::operation_name(section.operation));
    }

    // Enter closes the dialog, never changes files: 执行 takes a click or Space.
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *run = buttons->addButton(QStringLiteral("执行"), QDialogButtonBox::AcceptRole);
    run->setObjectName(QStringLiteral("run"));
    run->setAutoDefault(false);
    QPushButton *close = buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("close"));
    close->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);
}

torvale::Operation PreviewDialog::chosenOperation() const
{
    return m_operations.value(m_tabs->currentIndex(), torvale::Operation::Undo);
}
