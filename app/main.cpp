#include "app/form1.h"

#include "files/charset.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QString why;
    if (!torvale::character_sets_available(&why)) {
        QMessageBox::critical(nullptr, QStringLiteral("TorvaleV2.0"), why);
        return 2;
    }
    Form1 window;
    window.show();
    return app.exec();
}
