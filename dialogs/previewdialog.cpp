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
        auto *statement = new QLabel(section.statement);
        statement->setObjectName(QStringLiteral("statement"));
        statement->setWordWrap(true);
        statement->setStyleSheet(QStringLiteral("color: #C00000;"));
        statement->setVisible(!section.statement.isEmpty());
        layout->addWidget(statement);
        auto *table = new QTableView;
        table->setObjectName(QStringLiteral("table"));
        table->setModel(new PreviewModel(section, table));
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->horizontalHeader()->setStretchLastSection(true);
        table->verticalHeader()->setDefaultSectionSize(20);
        layout->addWidget(table);
        m_tabs->addTab(page, torvale::operation_name(section.operation));
    }

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *run = buttons->addButton(QStringLiteral("执行"), QDialogButtonBox::AcceptRole);
    run->setObjectName(QStringLiteral("run"));
    QPushButton *cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
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
