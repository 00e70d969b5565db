#include "startup.h"

#include "files/console.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QSocketNotifier>
#include <QTranslator>

#include <csignal>
#include <cstdio>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

void name_application()
{
    QCoreApplication::setOrganizationName(QStringLiteral("torvale"));
    QCoreApplication::setApplicationName(QStringLiteral("torvale"));
}

void install_translations(QApplication &app)
{
    auto *translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
}

namespace {

int signalPipe[2] = {-1, -1};

void on_signal(int)
{
    const char byte = 1;
    (void)!::write(signalPipe[0], &byte, 1);
}

} // namespace

void quit_on_signals()
{
    if (signalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char byte;
        (void)!::read(signalPipe[1], &byte, 1);
        // Not quit(), which closes the window first and so asks whether to
        // stop a run: a signal asks nobody. The window's end stops the run
        // and waits for it (a rename puts its files back).
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = on_signal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

namespace {

const char kUsage[] = "用法：torvale [文件夹]\n"
                      "打开 Torvale 的窗口；给出文件夹时，以它为工作文件夹。\n"
                      "  --help     显示这段说明\n"
                      "  --version  显示版本\n"
                      "不用窗口的批处理请用 torvale-cli（见 torvale-cli --help）。\n";

void print(FILE *stream, const QString &text)
{
    torvale::print_text(stream, text.trimmed());
}

} // namespace

std::optional<int> answer_help_or_version(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--help" || arg == "-h") {
            print(stdout, QString::fromUtf8(kUsage));
            return 0;
        }
        if (arg == "--version") {
            print(stdout, QStringLiteral("torvale %1\n").arg(QLatin1String(TORVALE_VERSION)));
            return 0;
        }
    }
    return std::nullopt;
}

std::optional<QString> folder_argument(int argc, char *argv[])
{
    QString folder;
    for (int i = 1; i < argc; ++i) {
        // Looked at by its bytes: a name that is not UTF-8 is still there.
        struct stat st;
        const bool exists = ::stat(argv[i], &st) == 0;
        const QFileInfo info(QFile::decodeName(argv[i]));
        if (argv[i][0] == '-' || !folder.isEmpty() || !exists) {
            print(stderr, QStringLiteral("torvale：无法理解的参数“%1”。\n%2")
                              .arg(torvale::shown_path(argv[i]), QString::fromUtf8(kUsage)));
            return std::nullopt;
        }
        folder = S_ISDIR(st.st_mode) ? info.absoluteFilePath() : info.absolutePath();
    }
    return folder;
}
