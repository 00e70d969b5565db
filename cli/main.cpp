// torvale-cli: the three batch operations of Torvale, without a window.

#include "options.h"

#include "files/console.h"

#include "files/charset.h"
#include "ops/describe.h"
#include "ops/history.h"
#include "ops/undo.h"

#include <QCoreApplication>
#include <QHash>

#include <csignal>
#include <cstring>

using namespace torvale;

namespace {

enum ExitCode { Success = 0, Trouble = 1, Usage = 2 };

// Ctrl-C (or a TERM or HUP) asks the run to stop where it safely can; a
// second one ends the program at once (the next run mends what is left).
StopRequest stopRequested{false};
volatile std::sig_atomic_t stopSignal = 0;

void on_stop_signal(int signal)
{
    stopSignal = signal;
    stopRequested = true;
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    for (const int s : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(s, &fallback, nullptr);
}

void stop_on_signals()
{
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int s : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(s, &action, nullptr);
}

void print(const QString &text)
{
    print_line(stdout, text);
}

void print_error(const QString &text)
{
    print_line(stderr, text);
}

int usage_error(const QString &why, const CommandSpec *command = nullptr)
{
    print_error(QStringLiteral("torvale-cli：%1").arg(why));
    print_error(
        command ? QStringLiteral("请用 torvale-cli %1 --help 查看用法。").arg(QLatin1String(command->name))
                : QStringLiteral("请用 torvale-cli --help 查看用法。"));
    return Usage;
}

// --dry-run: the plan, one line per file, and the status the run would end with.
template <typename Plan> int print_plan(const Plan &plan)
{
    const PlanTable table = describe_plan(plan);
    bool trouble = false;
    for (int row = 0; row < table.rowCount; ++row) {
        print(table.line(row));
        trouble = trouble || table.marked(row);
    }
    if (plan.ok()) {
        if (!table.statement.isEmpty())
            print(table.statement);
        if (const QString warning = undo_warning(plan); !warning.isEmpty())
            print(warning);
        return trouble ? Trouble : Success; // as the run would end
    }
    print_text(stderr, table.statement);
    return Trouble;
}

// Prints what a run did and turns it into the exit status.
int finish(Operation operation, const Report &report)
{
    const bool ran = report.status == Report::Status::Done || report.status == Report::Status::Stopped;
    const ReportText text = describe_report(operation, report);
    if (ran)
        print(text.summary);
    for (const QString &note : report.notes)
        print(note);
    if (!text.heading.isEmpty())
        print_error(text.heading);
    for (const QString &line : text.problems)
        print_error(line);
    if (report.status != Report::Status::Done)
        print_text(stderr, report.message);
    if (stopSignal != 0)
        return 128 + stopSignal;
    return report.ok() ? Success : Trouble;
}

} // namespace

namespace {

// The history that a run is recorded in; none with --no-undo, or when it
// cannot be opened (said on stderr: the run then cannot be taken back, and
// with --require-undo does not happen: *refuse).
std::shared_ptr<History> history_for(const Arguments &args, bool *refuse)
{
    if (args.has("no-undo"))
        return nullptr;
    QString error;
    std::shared_ptr<History> history = History::open(&error);
    *refuse = !history && args.has("require-undo");
    if (!history)
        print_error(*refuse ? QStringLiteral("%1。没有文件被改动。").arg(error)
                            : QStringLiteral("此次操作将无法撤销：%1").arg(error));
    return history;
}

// Runs a plan, or prints it with --dry-run.
template <typename Plan, typename Apply>
int carry_out(Operation operation, const Arguments &args, const Plan &plan, const Apply &apply)
{
    if (args.has("dry-run"))
        return print_plan(plan);
    if (const QString warning = undo_warning(plan); !warning.isEmpty())
        print_error(warning);
    // Until now a signal ends the program at once (nothing has changed);
    // from here on it stops the run where it safely can.
    stop_on_signals();
    return finish(operation, apply(plan, Progress(), &stopRequested));
}

// torvale-cli history: the runs that can be taken back, or the history emptied or bounded.
int history(const Arguments &args)
{
    QString error;
    const std::shared_ptr<History> history = History::open(&error);
    if (!history) {
        print_error(error);
        return Trouble;
    }
    if (args.has("limit")) {
        const QString text = args.value("limit").trimmed().toUpper();
        const int shift = text.endsWith(u'K') ? 10 : text.endsWith(u'M') ? 20 : text.endsWith(u'G') ? 30 : 0;
        bool ok = false;
        const qint64 number = (shift ? text.chopped(1) : text).toLongLong(&ok);
        if (!ok || number < 0)
            return usage_error(QStringLiteral("--limit 的值应是大小，如 500M 或 2G"));
        if (!history->set_limit(number << shift, &error)) {
            print_error(error);
            return Trouble;
        }
        print(QStringLiteral("撤销历史最多占用 %1 MB。").arg(history->limit() >> 20));
    }
    if (args.has("clear")) {
        if (!history->clear(&error)) {
            print_error(QStringLiteral("无法清空撤销历史：%1").arg(error));
            return Trouble;
        }
        print(QStringLiteral("撤销历史已清空。"));
    }
    if (args.has("limit") || args.has("clear"))
        return Success;
    std::shared_ptr<Folder> folder;
    if (!args.dir.isEmpty() && !(folder = Folder::open(args.dir, &error, false))) {
        print_error(error);
        return Trouble;
    }
    const std::vector<HistoryRun> runs = history->runs(folder.get());
    for (const HistoryRun &run : runs) {
        const std::shared_ptr<Folder> where = folder ? folder : Folder::open(run.folderPath, &error, false);
        print(describe_run(run, where ? where.get() : nullptr, !folder));
    }
    if (runs.empty())
        print(folder ? QStringLiteral("这个文件夹没有可以撤销的操作。") : QStringLiteral("撤销历史是空的。"));
    return Success;
}

int run(int argc, char *argv[])
{
    QList<QByteArray> argList;
    for (int i = 1; i < argc; ++i)
        argList << QByteArray(argv[i]);
    if (argList.isEmpty())
        return usage_error(QStringLiteral("没有指定操作"));
    const QByteArray first = argList.takeFirst();
    if (first == "--help" || first == "-h") {
        print_text(stdout, usage_text(nullptr));
        return Success;
    }
    if (first == "--version" || first == "-V") {
        print(QStringLiteral("torvale-cli %1").arg(QLatin1String(TORVALE_VERSION)));
        return Success;
    }
    const auto command = std::find_if(commands().cbegin(), commands().cend(),
                                      [&](const CommandSpec &c) { return first == c.name; });
    if (command == commands().cend())
        return usage_error(QStringLiteral("未知的操作“%1”").arg(shown_argument(first)));
    Arguments args;
    if (const std::optional<QString> why = parse_arguments(*command, argList, &args))
        return usage_error(*why, &*command);
    if (args.help) {
        print_text(stdout, usage_text(&*command));
        return Success;
    }
    QString why;
    if (!character_sets_available(&why)) {
        print_error(why);
        return Usage;
    }

    const bool requireUndo = args.has("require-undo");
    if (requireUndo && args.has("no-undo"))
        return usage_error(QStringLiteral("--require-undo 与 --no-undo 不能同时使用"), &*command);
    switch (command->kind) {
    case CommandKind::Rename: {
        RenameParams params{args.dir, args.value("prefix"), args.value("start")};
        if (locale_charset() != "UTF-8")
            params.nameCharset = locale_charset();
        if (args.has("width")) {
            bool ok = false;
            params.width = args.value("width").toInt(&ok);
            if (!ok || params.width < 2 || params.width > 8)
                return usage_error(QStringLiteral("--width 的值应是 2 到 8 之间的数"), &*command);
        }
        bool refuse = false;
        params.history = history_for(args, &refuse);
        params.requireUndo = requireUndo;
        if (refuse)
            return Trouble;
        return carry_out(Operation::Rename, args, plan_rename(params), apply_rename);
    }
    case CommandKind::Replace: {
        ReplaceParams params{args.dir, args.value("find"), args.value("replace")};
        return args.has("dry-run") ? print_plan(plan_replace(params, true))
                                   : carry_out(Operation::Replace, args, plan_replace(params), apply_replace);
    }
    case CommandKind::Html: {
        ConvertParams params{args.dir, args.value("title")};
        return args.has("dry-run") ? print_plan(plan_convert(params, true))
                                   : carry_out(Operation::Convert, args, plan_convert(params), apply_convert);
    }
    case CommandKind::Undo: {
        QString error;
        const std::shared_ptr<History> history = History::open(&error);
        if (!history) {
            print_error(error);
            return Trouble;
        }
        const UndoPlan plan = plan_undo(history, args.dir);
        if (args.has("dry-run"))
            return print_plan(plan);
        stop_on_signals(); // an undo is not stopped half-way: it ends, then says so
        return finish(Operation::Undo, apply_undo(plan));
    }
    case CommandKind::History:
        return history(args);
    }
    return Usage;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int status = run(argc, argv);
    if (stopSignal != 0 && status != 128 + stopSignal) // stopped before anything was changed
        status = 128 + stopSignal;
    // Output that could not be written (a full disk, a closed pipe) is a failure too.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) || std::ferror(stderr))
        return status == Success ? Trouble : status;
    return status;
}
