#include "controls.h"

#include "foldertree.h"

#include "dialogs/fonts.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

namespace {

template <typename T> T *place(T *widget, const char *name, QRect geometry)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

QLabel *label(QWidget *client, const char *name, const QString &text, QRect geometry, const char *colour)
{
    auto *l = place(new QLabel(text, client), name, geometry);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette palette = l->palette();
    palette.setColor(QPalette::WindowText, QColor(QLatin1String(colour)));
    l->setPalette(palette);
    return l;
}

// Only an entry chosen from Combo1's list sets the width, kept in its
// property "chosen" (-1 for none). Text typed into its text part chooses
// nothing, also where Qt would look it up in the list (on Enter, or when the
// focus leaves); opening the list, or stepping through it with the arrow keys
// or the wheel, chooses again.
class ListChoiceOnly : public QObject
{
public:
    explicit ListChoiceOnly(QComboBox *combo)
        : QObject(combo), m_combo(combo), m_popup(combo->view()->window())
    {
        combo->setProperty("chosen", -1);
        combo->installEventFilter(this);
        m_popup->installEventFilter(this);
        connect(combo->lineEdit(), &QLineEdit::textEdited, this, [this] {
            m_typed = true;
            m_combo->setProperty("chosen", -1);
        });
        // A choice from the list need not change the index (Qt may already
        // have looked the typed text up), but it activates the entry.
        for (auto signal : {&QComboBox::currentIndexChanged, &QComboBox::activated}) {
            connect(combo, signal, this, [this](int index) {
                if (!m_typed)
                    m_combo->setProperty("chosen", index);
            });
        }
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Only pointers are compared here: while the box is being destroyed
        // its popup still sends events, and the box is no longer a QComboBox.
        const bool listShown = watched == m_popup && event->type() == QEvent::Show;
        const bool stepped = watched == m_combo && (event->type() == QEvent::Wheel || is_list_key(event));
        if (listShown || stepped)
            m_typed = false;
        return false;
    }

private:
    static bool is_list_key(QEvent *event)
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const int key = static_cast<QKeyEvent *>(event)->key();
        return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp || key == Qt::Key_PageDown ||
               key == Qt::Key_Home || key == Qt::Key_End;
    }

    QComboBox *m_combo;
    QObject *m_popup; // the window that shows the list
    bool m_typed = false;
};

// Drops what follows the first line break of the text that came in, so
// that a line break never reaches an operation (it would never match, or
// write a bare LF into CR LF files).
class OneLine : public QObject
{
public:
    OneLine(QLineEdit *field, std::function<void()> told)
        : QObject(field), m_field(field), m_told(std::move(told)), m_last(field->text())
    {
        connect(field, &QLineEdit::textChanged, this, [this](const QString &text) { check(text); });
    }

private:
    static bool is_break(QChar c)
    {
        return c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f' || c == QChar(0x85) ||
               c == QChar(0x2028) || c == QChar(0x2029);
    }
    void check(const QString &text)
    {
        if (std::none_of(text.cbegin(), text.cend(), is_break)) {
            m_last = text;
            return;
        }
        // What came in lies between what stayed before and after it.
        qsizetype head = 0, tail = 0;
        while (head < m_last.size() && head < text.size() && m_last[head] == text[head])
            ++head;
        while (tail < m_last.size() - head && tail < text.size() - head &&
               m_last[m_last.size() - 1 - tail] == text[text.size() - 1 - tail])
            ++tail;
        const QString added = text.mid(head, text.size() - head - tail);
        QString kept;
        for (qsizetype i = 0, start = 0; i <= added.size(); ++i) {
            if (i == added.size() || is_break(added[i])) {
                kept = added.mid(start, i - start);
                if (!kept.isEmpty())
                    break;
                start = i + 1;
            }
        }
        const QString before = m_last.left(head), after = m_last.right(tail);
        m_last = before + kept + after;
        m_field->setText(m_last);
        m_field->setCursorPosition(int(before.size() + kept.size()));
        m_told();
    }

    QLineEdit *m_field;
    std::function<void()> m_told;
    QString m_last; // the text before the change
};

QPushButton *start_button(QWidget *client, const char *name, const QString &text, QRect geometry)
{
    auto *b = place(new QPushButton(text, client), name, geometry);
    b->setEnabled(false);
    return b;
}

} // namespace

Form1Controls create_form1_controls(QWidget *client)
{
    Form1Controls ui;
    ui.Image1 = place(new QLabel(client), "Image1", {0, 0, 468, 60});
    ui.Image1->setPixmap(QPixmap(QStringLiteral(":/banner.png")));
    ui.Image1->setCursor(QCursor(QPixmap(QStringLiteral(":/pointer.png")), 0, 0));

    label(client, "Label7", QStringLiteral("要了解更多的信息，请点击上面的图标访问作者主页！"),
          {88, 64, 289, 17}, "#00FFFF");
    ui.Drive1 = place(new QComboBox(client), "Drive1", {16, 88, 137, 20});
    ui.Dir1 = place(new FolderTree(client), "Dir1", {168, 88, 289, 104});
    label(client, "Label13", QStringLiteral("注意：不要在C盘根目录或其它系统文件目录下操作！"),
          {16, 112, 145, 57}, "#FF0000")
        ->setFont(song_font(12));
    // "System" 12 pt bold: the serif in bold fits the box, a sans serif would not.
    QFont system = song_font(12);
    system.setBold(true);
    label(client, "Label12", QStringLiteral("具体操作方法请看帮助文件。"), {16, 168, 145, 41}, "#FFFFC0")
        ->setFont(system);

    label(client, "Label2", QStringLiteral("文件名前缀"), {16, 216, 65, 17}, "#0000C0");
    ui.Text1 = place(new QLineEdit(client), "Text1", {80, 216, 65, 18});
    label(client, "Label3", QStringLiteral("起始序数"), {152, 216, 49, 17}, "#0000C0");
    ui.Text2 = place(new QLineEdit(client), "Text2", {208, 216, 49, 18});
    label(client, "Label9", QStringLiteral("序数整合"), {264, 216, 49, 17}, "#0000C0");
    ui.Combo1 = place(new QComboBox(client), "Combo1", {320, 216, 33, 20});
    ui.Combo1->setEditable(true);
    ui.Combo1->setInsertPolicy(QComboBox::NoInsert);
    new ListChoiceOnly(ui.Combo1);
    label(client, "Label10", QStringLiteral("位"), {360, 216, 17, 17}, "#0000C0");
    ui.Command1 = start_button(client, "Command1", QStringLiteral("文件更名"), {384, 208, 73, 25});
    ui.Command2 = start_button(client, "Command2", QStringLiteral("TXT→HTML"), {384, 248, 73, 25});
    label(client, "Label11", QStringLiteral("索引文件标题"), {16, 256, 73, 17}, "#FFFF00");
    ui.Text9 = place(new QLineEdit(client), "Text9", {96, 256, 273, 18});
    label(client, "Label4", QStringLiteral("查找字符串"), {16, 288, 65, 17}, "#C00000");
    ui.Text3 = place(new QLineEdit(client), "Text3", {80, 288, 289, 18});
    ui.Command3 = start_button(client, "Command3", QStringLiteral("查找替换"), {384, 288, 73, 25});
    label(client, "Label5", QStringLiteral("替换字符串"), {16, 312, 65, 17}, "#C00000");
    ui.Text4 = place(new QLineEdit(client), "Text4", {80, 312, 289, 18});
    label(client, "Label6", QStringLiteral("进程"), {16, 344, 25, 17}, "#C000C0");
    ui.ProgressBar1 = place(new QProgressBar(client), "ProgressBar1", {48, 344, 297, 17});
    ui.ProgressBar1->setRange(0, 100);
    ui.ProgressBar1->setValue(0);
    ui.ProgressBar1->setTextVisible(false);
    // 9 pt italic: the slanted glyphs need a pixel less to fit their box.
    QFont small = song_font(9);
    small.setPixelSize(11);
    small.setItalic(true);
    label(client, "Label8", QStringLiteral("工作状态"), {352, 344, 49, 17}, "#C000C0")->setFont(small);
    ui.Label1 = label(client, "Label1", QString(), {408, 344, 57, 17}, "#FF0000");

    QWidget *order[] = {ui.Drive1, ui.Dir1,     ui.Text1, ui.Text2, ui.Combo1,  ui.Command1,
                        ui.Text9,  ui.Command2, ui.Text3, ui.Text4, ui.Command3};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
    return ui;
}

void keep_one_line(QLineEdit *field, std::function<void()> told)
{
    new OneLine(field, std::move(told));
}
