#include "form2.h"

#include "fonts.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

void setup_fixed_dialog(QDialog *dialog, const QString &title, QSize clientSize, QRect okGeometry)
{
    dialog->setWindowTitle(title);
    dialog->setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    dialog->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    dialog->setFixedSize(clientSize);
    dialog->setFont(song_font(9));
    dialog->setModal(true);

    auto *ok = new QPushButton(QStringLiteral("确定"), dialog);
    ok->setObjectName(QStringLiteral("Command1"));
    ok->setGeometry(okGeometry);
    ok->setDefault(true);
    ok->setFocus();
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
}

void add_dialog_labels(QDialog *dialog, std::initializer_list<DialogLabel> labels, const QColor &colour,
                       const QColor &background)
{
    for (const DialogLabel &line : labels) {
        auto *label = new QLabel(QString::fromUtf8(line.text), dialog);
        label->setObjectName(QLatin1String(line.name));
        label->setGeometry(line.geometry);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        // A text that does not fit its box lets the label grow downward
        // within the dialog, rather than be cut off.
        const int needed = label->fontMetrics()
                               .boundingRect(QRect(0, 0, line.geometry.width(), dialog->height()),
                                             Qt::TextWordWrap, label->text())
                               .height();
        label->resize(line.geometry.width(),
                      std::clamp(needed, line.geometry.height(), dialog->height() - line.geometry.top()));
        QPalette palette = label->palette();
        if (colour.isValid())
            palette.setColor(QPalette::WindowText, colour);
        if (background.isValid()) {
            palette.setColor(QPalette::Window, background);
            label->setAutoFillBackground(true);
        }
        label->setPalette(palette);
    }
}

Form2::Form2(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form2"));
    setup_fixed_dialog(this, QStringLiteral("帮助"), {299, 388}, {112, 360, 73, 25});

    add_dialog_labels(this, {
                                {"Label1", {8, 0, 121, 17}, "软件使用说明："},
                                {"Label2",
                                 {0, 24, 299, 41},
                                 "    "
                                 "该软件主要有三个功能，可以对同一个文件夹内的所有文件进行更名、TXT生成HTML文"
                                 "件、查找替换。请按以下步骤操作："},
                                {"Label3", {8, 72, 153, 17}, "1、选择要操作的文件夹。"},
                                {"Label5",
                                 {8, 96, 289, 65},
                                 "2、在进行文件更名时，起始序数必须填写（可以为0），填写了起始序数后["
                                 "文件更名]按钮生效（起始序数为空，[文件更名]按钮失效）。"
                                 "文件名前缀如果没有填写，则没有文件名前缀，序数整合没有选择则不进行整合，注"
                                 "意：选择的整合数一定要大于序数，否则出错。"},
                                {"Label6",
                                 {8, 168, 289, 73},
                                 "3、TXT生成HTML时，索引文件标题必须填写，填写了索引文件标题后[TXT→HTML]"
                                 "按钮生效（索引文件标题为空，[TXT→HTML]按钮失效）。"
                                 "HTML文件与原文本文件文件名相同。文本文件的第一行文字将作为HTML文件的标题。"
                                 "同时产生一个文件名为“index.htm”的索引文件。"},
                                {"Label7",
                                 {8, 248, 289, 41},
                                 "4、查找替换时，填写了查找字符串或替换字符串后，[查找替换]按钮生效（否则["
                                 "查找替换]按钮失效）。如果替换的字符串为空，则等于删除查找的字符串。"},
                                {"Label4",
                                 {8, 296, 289, 25},
                                 "5、[文件更名]、[TXT→HTML]、[查找替换]三个按钮中只能有一个按钮生效。"},
                            });
    add_dialog_labels(this,
                      {{"Label8",
                        {8, 328, 289, 25},
                        "注意：不要在 C:\\ （或其它系统文件目录）下操作！否则有可能会损坏系统文件！"}},
                      QColor(0xFF, 0x00, 0x00));
    // The button comes first in the keyboard order, so Enter or Space closes the dialog.
    findChild<QPushButton *>(QStringLiteral("Command1"))->setFocus();
}
