// torvale-cli: the three batch operations of Torvale, without a window.

#include "options.h"
#include "output.h"

#include "files/charset.h"
#include "files/console.h"
#include "ops/history.h"
#include "ops/undo.h"

#include <QCoreApplication>

#include <algorithm>
#include <csignal>

using namespace torvale;

namespace {

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

int usage_error(const QString &why, const CommandSpec *command = nullptr)
{
    print_error(QStringLiteral("torvale-cli：%1").arg(why));
    print_error(
        command ? QStringLiteral("请用 torvale-cli %1 --help 查看用法。").arg(QLatin1String(command->name))
                : QStringLiteral("请用 torvale-cli --help 查看用法。"));
    return Usage;
}

// The history that a run is recorded in; none with --no-undo, or when it
// cannot be opened (said on stderr: the run then cannot be taken back, and
// with --require-undo does not happen: *refuse).
std::shared_ptr<History> history_for(const Arguments &args, bool *refuse)
{
    *refuse = false;
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

// What every operation's parameters share, from the arguments.
template <typename Params> bool common_params(const Arguments &args, const OutputStyle &style, Params *params)
{
    bool refuse = false;
    params->history = history_for(args, &refuse);
    params->requireUndo = args.has("require-undo");
    params->filter = NameFilter(args.values.value(QStringLiteral("include")),
                                args.values.value(QStringLiteral("exclude")));
    params->listChanges = style.json || style.verbose;
    return !refuse;
}

// Runs a plan (with the progress on a terminal), or prints it with --dry-run.
template <typename Plan, typename Apply>
int carry_out(Operation operation, const Arguments &args, const OutputStyle &style, const Plan &plan,
              const Apply &apply)
{
    if (args.has("dry-run"))
        return print_plan(plan, style);
    if (const QString warning = undo_warning(plan); !warning.isEmpty())
        print_error(warning);
    // Until now a signal ends the program at once (nothing has changed);
    // from here on it stops the run where it safely can.
    stop_on_signals();
    Report report;
    {
        TerminalProgress progress(!style.json && !style.quiet);
        report = apply(plan, progress.progress(), &stopRequested);
    }
    return print_report(operation, report, style, stopSignal);
}

std::optional<qint64> size_of(const QString &text)
{
    const QString t = text.trimmed().toUpper();
    const int shift = t.endsWith(u'K') ? 10 : t.endsWith(u'M') ? 20 : t.endsWith(u'G') ? 30 : 0;
    bool ok = false;
    const qint64 number = (shift ? t.chopped(1) : t).toLongLong(&ok);
    if (!ok || number < 0 || number > (qint64(1) << (62 - shift)))
        return std::nullopt;
    return number << shift;
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
        const std::optional<qint64> bytes = size_of(args.value("limit"));
        if (!bytes)
            return usage_error(QStringLiteral("--limit 的值应是大小，如 500M 或 2G"));
        if (!history->set_limit(*bytes, &error)) {
            print_error(error);
            return Trouble;
        }
        print(QStringLiteral("撤销历史最多占用 %1。").arg(size_text(history->limit())));
    }
    if (args.has("clear")) {
        int kept = 0;
        if (!history->clear(&kept, &error)) {
            print_error(QStringLiteral("无法清空撤销历史：%1").arg(error));
            return Trouble;
        }
        print(kept == 0 ? QStringLiteral("撤销历史已清空。")
                        : QStringLiteral("撤销历史已清空，只留下正在进行的 %1 次操作。").arg(kept));
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
        print_text(stdout, describe_run(run, where.get(), !folder));
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
    if (args.has("require-undo") && args.has("no-undo"))
        return usage_error(QStringLiteral("--require-undo 与 --no-undo 不能同时使用"), &*command);
    if (args.has("quiet") && args.has("verbose"))
        return usage_error(QStringLiteral("-q 与 -v 不能同时使用"), &*command);
    for (const char *option : {"include", "exclude"}) {
        const QStringList globs = args.values.value(QLatin1String(option));
        if (std::any_of(globs.begin(), globs.end(), [](const QString &g) { return g.trimmed().isEmpty(); }))
            return usage_error(QStringLiteral("--%1 的值不能为空").arg(QLatin1String(option)), &*command);
    }
    QString why;
    if (!character_sets_available(&why)) {
        print_error(why);
        return Usage;
    }
    const OutputStyle style{args.has("json"), args.has("quiet"), args.has("verbose")};

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
        if (!common_params(args, style, &params))
            return Trouble;
        return carry_out(Operation::Rename, args, style, plan_rename(params), apply_rename);
    }
    case CommandKind::Replace: {
        ReplaceParams params{args.dir, args.value("find"), args.value("replace")};
        params.options = {args.has("regex"), args.has("ignore-case")};
        QString error;
        if ((params.options.regex || params.options.ignoreCase) &&
            !Pattern::make(params.find, params.replace, params.options, &error))
            return usage_error(error, &*command);
        if (!common_params(args, style, &params))
            return Trouble;
        return carry_out(Operation::Replace, args, style, plan_replace(params, args.has("dry-run")),
                         apply_replace);
    }
    case CommandKind::Html: {
        ConvertParams params{args.dir, args.value("title")};
        if (!common_params(args, style, &params))
            return Trouble;
        return carry_out(Operation::Convert, args, style, plan_convert(params, args.has("dry-run")),
                         apply_convert);
    }
    case CommandKind::Undo: {
        QString error;
        const std::shared_ptr<History> history = History::open(&error);
        if (!history) {
            print_error(error);
            return Trouble;
        }
        UndoPlan plan = plan_undo(history, args.dir);
        plan.listChanges = style.json || style.verbose;
        if (args.has("dry-run"))
            return print_plan(plan, style);
        stop_on_signals(); // an undo is not stopped half-way: it ends, then says so
        return print_report(Operation::Undo, apply_undo(plan), style, stopSignal);
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
