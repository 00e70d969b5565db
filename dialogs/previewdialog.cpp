#include "previewdialog.h"

#include <QAbstractTableModel>
#include <QBrush>
#include <QColor>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

// The rows of one section for a table view: a folder of 100,000 files is
// one model, not 100,000 widgets. A file's row has a tick: unticked, the
// file is left out (and shown grey until the fresh plan says so).
class PreviewModel : public QAbstractTableModel
{
public:
    PreviewModel(QSet<QByteArray> *leftOut, std::function<void()> changed, QObject *parent)
        : QAbstractTableModel(parent), m_leftOut(leftOut), m_changed(std::move(changed))
    {
    }

    void setTable(const torvale::PlanTable &table)
    {
        beginResetModel();
        m_section = table;
        endResetModel();
    }
    QByteArray file(int row) const { return m_section.file ? m_section.file(row) : QByteArray(); }

    int rowCount(const QModelIndex &parent) const override
    {
        return parent.isValid() ? 0 : m_section.rowCount;
    }
    int columnCount(const QModelIndex &parent) const override
    {
        return parent.isValid() ? 0 : int(m_section.headers.size());
    }
    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        const Qt::ItemFlags flags = QAbstractTableModel::flags(index);
        return index.column() == 0 && !file(index.row()).isEmpty() ? flags | Qt::ItemIsUserCheckable : flags;
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        // A long reason is shown whole in the cell's tooltip.
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return m_section.cells(index.row()).value(index.column());
        const QByteArray name = file(index.row());
        if (role == Qt::CheckStateRole && index.column() == 0 && !name.isEmpty())
            return m_leftOut->contains(name) ? Qt::Unchecked : Qt::Checked;
        if (role == Qt::ForegroundRole && !name.isEmpty() && m_leftOut->contains(name))
            return QBrush(QColor(0x80, 0x80, 0x80));
        if (role == Qt::BackgroundRole && m_section.marked(index.row()))
            return QBrush(QColor(0xFF, 0xD0, 0xD0));
        return {};
    }
    bool setData(const QModelIndex &index, const QVariant &value, int role) override
    {
        const QByteArray name = file(index.row());
        if (role != Qt::CheckStateRole || name.isEmpty())
            return false;
        if (value.toInt() == Qt::Unchecked)
            m_leftOut->insert(name);
        else
            m_leftOut->remove(name);
        emit dataChanged(this->index(index.row(), 0), this->index(index.row(), columnCount({}) - 1));
        m_changed();
        return true;
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (role == Qt::DisplayRole && orientation == Qt::Horizontal)
            return m_section.headers.value(section);
        return QAbstractTableModel::headerData(section, orientation, role);
    }

private:
    torvale::PlanTable m_section;
    QSet<QByteArray> *m_leftOut;
    std::function<void()> m_changed;
};

namespace {

QString statement_lines(const QString &text)
{
    constexpr int kLongest = 300;
    return text.size() <= kLongest ? text
                                   : text.left(kLongest / 2) + QStringLiteral("…") + text.right(kLongest / 2);
}

QLabel *text_line(const char *name)
{
    auto *label = new QLabel;
    label->setObjectName(QLatin1String(name));
    label->setWordWrap(true);
    return label;
}

} // namespace

PreviewDialog::PreviewDialog(const QList<torvale::PlanTable> &sections, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("PreviewDialog"));
    setWindowTitle(QStringLiteral("预览"));
    setModal(true);
    resize(560, 420);

    m_tabs = new QTabWidget(this);
    m_sections.reserve(size_t(sections.size())); // the models keep pointers into it
    for (const torvale::PlanTable &table : sections) {
        auto *page = new QWidget;
        auto *layout = new QVBoxLayout(page);
        Section section{table.operation,      nullptr,
                        new QTableView,       text_line("folder"),
                        text_line("choices"), text_line("statement")};
        section.choices->setStyleSheet(QStringLiteral("color: #0000C0;"));
        section.statement->setStyleSheet(QStringLiteral("color: #C00000;"));
        m_sections.push_back(section);
        Section &s = m_sections.back();
        s.model = new PreviewModel(
            &s.leftOut,
            [this] {
                askForPlans();
                updateRunButton();
            },
            s.table);
        s.table->setObjectName(QStringLiteral("table"));
        s.table->setModel(s.model);
        s.table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        s.table->setSelectionBehavior(QAbstractItemView::SelectRows);
        s.table->setTabKeyNavigation(false); // Tab goes on to the buttons
        s.table->horizontalHeader()->setStretchLastSection(true);
        s.table->verticalHeader()->setDefaultSectionSize(20);
        s.table->installEventFilter(this);
        // What a fresh plan may say anew (the files unticked, whether the
        // run can be taken back) goes below the table, so that no row moves
        // under the pointer of a person unticking one after another.
        layout->addWidget(s.folder);
        layout->addWidget(s.table);
        layout->addWidget(s.choices);
        layout->addWidget(s.statement);
        fill(s, table);
        // Names whole where they fit (the first thousand rows are looked at).
        s.table->resizeColumnToContents(0);
        s.table->setColumnWidth(0, std::min(s.table->columnWidth(0), 300));
        m_tabs->addTab(page, torvale::operation_name(table.operation));
    }
    // Arrows choose a row there, Space ticks it; Enter still closes.
    if (!m_sections.empty())
        m_sections.front().table->setFocus();

    m_planning = new QLabel(QStringLiteral("正在重新计算不含未勾选文件的计划……"));
    m_planning->setObjectName(QStringLiteral("planning"));
    m_progress = new QProgressBar;
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setValue(0);
    auto *planning = new QHBoxLayout;
    planning->addWidget(m_planning, 1);
    planning->addWidget(m_progress);

    // Enter closes the dialog, never changes files: 执行 takes a click or Space.
    auto *buttons = new QDialogButtonBox(this);
    m_run = buttons->addButton(QStringLiteral("执行"), QDialogButtonBox::AcceptRole);
    m_run->setObjectName(QStringLiteral("run"));
    m_run->setAutoDefault(false);
    QPushButton *close = buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("close"));
    close->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_tabs, &QTabWidget::currentChanged, this, &PreviewDialog::updateRunButton);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addLayout(planning);
    layout->addWidget(buttons);
    updateRunButton();
}

PreviewDialog::~PreviewDialog() = default;

torvale::Operation PreviewDialog::chosenOperation() const
{
    const int shown = m_tabs->currentIndex();
    return shown >= 0 && shown < int(m_sections.size()) ? m_sections[size_t(shown)].operation
                                                        : torvale::Operation::Undo;
}

void PreviewDialog::fill(Section &section, const torvale::PlanTable &table)
{
    section.folder->setText(table.folder);
    section.folder->setVisible(!table.folder.isEmpty());
    section.choices->setText(statement_lines(table.choices));
    section.choices->setToolTip(table.choices);
    section.choices->setVisible(!table.choices.isEmpty());
    // A long statement (a 4,000-character name, say) is shortened to a
    // few lines, so that the dialog fits the screen; the tooltip has it whole.
    section.statement->setText(statement_lines(table.statement));
    section.statement->setToolTip(table.statement);
    section.statement->setVisible(!table.statement.isEmpty());
    // The rows stay where the person sees them.
    const int scrolled = section.table->verticalScrollBar()->value();
    const int current = section.table->currentIndex().row();
    section.model->setTable(table);
    if (current >= 0 && current < table.rowCount)
        section.table->selectionModel()->setCurrentIndex(section.model->index(current, 0),
                                                         QItemSelectionModel::ClearAndSelect |
                                                             QItemSelectionModel::Rows);
    section.table->verticalScrollBar()->setValue(scrolled);
}

void PreviewDialog::showPlan(const torvale::PlanTable &table, const QSet<QByteArray> &unseen)
{
    for (Section &section : m_sections) {
        if (section.operation == table.operation && section.waiting) {
            section.leftOut += unseen;
            section.planned += unseen;
            fill(section, table);
            section.waiting = false;
        }
    }
    askForPlans();
    updateRunButton();
}

void PreviewDialog::askForPlans()
{
    for (const Section &section : m_sections) {
        if (section.waiting)
            return;
    }
    for (Section &section : m_sections) {
        if (section.leftOut != section.planned) {
            section.waiting = true;
            section.planned = section.leftOut;
            emit planWanted(section.operation, section.leftOut);
            return;
        }
    }
}

void PreviewDialog::updateRunButton()
{
    bool waiting = false;
    for (const Section &section : m_sections)
        waiting = waiting || section.waiting;
    const int shown = m_tabs->currentIndex();
    const bool ready = shown >= 0 && shown < int(m_sections.size()) && !m_sections[size_t(shown)].waiting &&
                       m_sections[size_t(shown)].leftOut == m_sections[size_t(shown)].planned;
    m_run->setEnabled(ready || m_sections.empty());
    m_planning->setVisible(waiting);
    m_progress->setVisible(waiting);
}

bool PreviewDialog::eventFilter(QObject *watched, QEvent *event)
{
    // Space ticks or unticks the chosen rows, whichever cell has the focus.
    auto *table = qobject_cast<QTableView *>(watched);
    if (!table || event->type() != QEvent::KeyPress ||
        static_cast<QKeyEvent *>(event)->key() != Qt::Key_Space)
        return QDialog::eventFilter(watched, event);
    const QModelIndex current = table->currentIndex().siblingAtColumn(0);
    if (!current.isValid() || !(current.flags() & Qt::ItemIsUserCheckable))
        return true;
    const int state = current.data(Qt::CheckStateRole).toInt() == Qt::Checked ? Qt::Unchecked : Qt::Checked;
    QModelIndexList rows = table->selectionModel()->selectedRows();
    if (!rows.contains(current))
        rows << current;
    for (const QModelIndex &row : rows)
        table->model()->setData(row, state, Qt::CheckStateRole);
    return true;
}
