#include "app/form1.h"
#include "app/startup.h"

#include "files/charset.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char *argv[])
{
    if (const std::optional<int> answered = answer_help_or_version(argc, argv))
        return *answered;
    QApplication app(argc, argv);
    name_application();
    // The desktop entry's name, so that a desktop can match the window to it.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.example.torvale"));
    const std::optional<QString> folder = folder_argument(argc, argv);
    if (!folder)
        return 2;
    install_translations(app);
    QString why;
    if (!torvale::character_sets_available(&why)) {
        QMessageBox::critical(nullptr, QStringLiteral("TorvaleV2.0"), why);
        return 2;
    }
    quit_on_signals();
    Form1 window;
    if (!folder->isEmpty())
        window.chooseDirectory(*folder);
    window.show();
    return app.exec();
}
