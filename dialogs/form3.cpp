#include "form3.h"

#include "form2.h"

#include <QLabel>
#include <QPushButton>

Form3::Form3(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form3"));
    setup_fixed_dialog(this, QStringLiteral("作者信息"), {294, 94}, {104, 64, 81, 25});

    const QColor paleYellow(0xFF, 0xFF, 0xC0);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, paleYellow);
    setPalette(palette);
    setAutoFillBackground(true);

    add_dialog_labels(this,
                      {
                          {"Label1", {8, 8, 65, 17}, "软件作者："},
                          {"Label2", {72, 8, 121, 17}, "Torvale    2026.12.7"},
                          {"Label3", {8, 24, 193, 17}, "电子邮件：team@torvale.example"},
                          {"Label4", {8, 40, 281, 17}, "主页地址：https://torvale.example/"},
                      },
                      QColor(0x00, 0x00, 0xFF), paleYellow);
    findChild<QPushButton *>(QStringLiteral("Command1"))->setFocus();
}
