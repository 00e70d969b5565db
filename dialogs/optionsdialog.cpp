#include "optionsdialog.h"

#include "fonts.h"

#include "ops/describe.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QSettings>
#include <QVBoxLayout>

using namespace torvale;

QStringList patterns_of(const QString &text)
{
    static const QRegularExpression separator(QStringLiteral("[;；]"));
    QStringList patterns;
    for (const QString &part : text.split(separator)) {
        if (!part.trimmed().isEmpty())
            patterns << part.trimmed();
    }
    return patterns;
}

NameFilter RunChoices::filter() const
{
    return NameFilter(patterns_of(include), patterns_of(exclude));
}

QString RunChoices::line() const
{
    const QString chosen = describe_choices(filter(), search);
    return chosen.isEmpty() ? QString() : QStringLiteral("选项：") + chosen;
}

RunChoices RunChoices::load()
{
    QSettings settings;
    RunChoices choices;
    choices.search.regex = settings.value(QStringLiteral("options/regex")).toBool();
    choices.search.ignoreCase = settings.value(QStringLiteral("options/ignoreCase")).toBool();
    choices.include = settings.value(QStringLiteral("options/include")).toString();
    choices.exclude = settings.value(QStringLiteral("options/exclude")).toString();
    return choices;
}

void RunChoices::save() const
{
    QSettings settings;
    settings.setValue(QStringLiteral("options/regex"), search.regex);
    settings.setValue(QStringLiteral("options/ignoreCase"), search.ignoreCase);
    settings.setValue(QStringLiteral("options/include"), include);
    settings.setValue(QStringLiteral("options/exclude"), exclude);
}

OptionsDialog::OptionsDialog(const RunChoices &choices, const QString &find, const QString &replacement,
                             QWidget *parent)
    : QDialog(parent), m_find(find), m_replacement(replacement)
{
    setObjectName(QStringLiteral("OptionsDialog"));
    setWindowTitle(QStringLiteral("选项"));
    setFont(song_font(9));
    setModal(true);

    auto *search = new QGroupBox(QStringLiteral("查找替换"));
    m_regex = new QCheckBox(QStringLiteral("正则表达式（替换字符串中可用 $1…$9 引用分组）"));
    m_regex->setObjectName(QStringLiteral("regex"));
    m_regex->setChecked(choices.search.regex);
    m_ignoreCase = new QCheckBox(QStringLiteral("忽略大小写"));
    m_ignoreCase->setObjectName(QStringLiteral("ignoreCase"));
    m_ignoreCase->setChecked(choices.search.ignoreCase);
    m_check = new QLabel;
    m_check->setObjectName(QStringLiteral("expressionCheck"));
    m_check->setWordWrap(true);
    auto *searchLayout = new QVBoxLayout(search);
    searchLayout->addWidget(m_regex);
    searchLayout->addWidget(m_ignoreCase);
    searchLayout->addWidget(m_check);

    auto *files = new QGroupBox(QStringLiteral("参与操作的文件（三种操作都适用）"));
    m_include = new QLineEdit(choices.include);
    m_include->setObjectName(QStringLiteral("include"));
    m_include->setPlaceholderText(QStringLiteral("所有文件"));
    m_exclude = new QLineEdit(choices.exclude);
    m_exclude->setObjectName(QStringLiteral("exclude"));
    auto *hint =
        new QLabel(QStringLiteral("多个文件名用“;”分开，如 *.jpg;*.png。* 代表任意文字，? 代表一个字符，"
                                  "扩展名不分大小写。"));
    hint->setWordWrap(true);
    hint->setStyleSheet(QStringLiteral("color: #606060;"));
    auto *filesLayout = new QFormLayout(files);
    filesLayout->addRow(QStringLiteral("只处理这些文件："), m_include);
    filesLayout->addRow(QStringLiteral("不处理这些文件："), m_exclude);
    filesLayout->addRow(hint);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ok"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancel"));
    QPushButton *clear = buttons->addButton(QStringLiteral("全部清除"), QDialogButtonBox::ResetRole);
    clear->setObjectName(QStringLiteral("clear"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(clear, &QPushButton::clicked, this, [this] {
        m_regex->setChecked(false);
        m_ignoreCase->setChecked(false);
        m_include->clear();
        m_exclude->clear();
    });
    connect(m_regex, &QCheckBox::toggled, this, &OptionsDialog::check);
    connect(m_ignoreCase, &QCheckBox::toggled, this, &OptionsDialog::check);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(search);
    layout->addWidget(files);
    layout->addWidget(buttons);
    setMinimumWidth(420);
    check();
}

RunChoices OptionsDialog::choices() const
{
    return {{m_regex->isChecked(), m_ignoreCase->isChecked()}, m_include->text(), m_exclude->text()};
}

void OptionsDialog::check()
{
    // What the expression in 查找字符串 does is seen now, not at the press.
    QString error;
    const bool wrong = m_regex->isChecked() && !m_find.isEmpty() &&
                       !Pattern::make(m_find, m_replacement, choices().search, &error);
    m_check->setText(wrong ? error + QStringLiteral("。查找替换将不会进行，请修改查找字符串。")
                     : m_regex->isChecked() && !m_find.isEmpty()
                         ? QStringLiteral("查找字符串“%1”是有效的正则表达式。").arg(m_find)
                         : QString());
    m_check->setStyleSheet(wrong ? QStringLiteral("color: #C00000;") : QString());
    m_check->setVisible(!m_check->text().isEmpty());
    fitTexts();
}

void OptionsDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    fitTexts();
}

void OptionsDialog::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    if (event->size().width() != event->oldSize().width())
        fitTexts();
}

void OptionsDialog::fitTexts()
{
    // A wrapped text needs a height for the width it is given, which the
    // layout does not ask for a window once shown (a long error of the
    // expression, or a larger font): the dialog grows to show it whole.
    if (!isVisible())
        return;
    layout()->activate();
    const int needed = layout()->totalMinimumHeightForWidth(width());
    setMinimumHeight(needed);
    if (height() < needed)
        resize(width(), needed);
}
