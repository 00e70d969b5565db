// torvale-cli: the three batch operations of Torvale, without a window.

#include "files/console.h"

#include "files/charset.h"
#include "ops/describe.h"

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

struct Option
{
    const char *name;
    const char *value; // nullptr: a switch
    const char *help;
};

struct Command
{
    const char *name;
    Operation operation;
    const char *synopsis;
    const char *help;
    QList<Option> options;
    const char *required;
};

const Option kDryRun{"dry-run", nullptr, "只显示将要做什么（每个文件一行），不改动任何文件"};

const QList<Command> kCommands = {
    {"rename",
     Operation::Rename,
     "rename 文件夹 --start 起始序数 [--prefix 前缀] [--width 位数]",
     "把文件夹中的每个文件改名为：前缀、序号、“.”和小写的扩展名。",
     {{"start", "S", "起始序数（必填），读法与窗口相同：12abc 为 12，没有数字为 0"},
      {"prefix", "P", "文件名前缀，两端的空格不计"},
      {"width", "W", "序号位数（2 到 8），不足时前面补 0"},
      kDryRun},
     "start"},
    {"replace",
     Operation::Replace,
     "replace 文件夹 --find 查找字符串 [--replace 替换字符串]",
     "在文件夹的每个文本文件中查找并替换；没有查找字符串的文件不被改动。",
     {{"find", "TEXT", "查找字符串（必填），区分大小写"},
      {"replace", "TEXT", "替换字符串；不填则删除查找到的字符串"},
      kDryRun},
     "find"},
    {"html",
     Operation::Convert,
     "html 文件夹 --title 索引文件标题",
     "把文件夹中每个 txt 文件转换为同名网页，并生成链接所有网页的 index.htm。",
     {{"title", "TEXT", "索引文件标题（必填）"}, kDryRun},
     "title"},
};

void print(const QString &text)
{
    print_line(stdout, text);
}

void print_error(const QString &text)
{
    print_line(stderr, text);
}

QString usage_text(const Command *command)
{
    QStringList lines;
    if (!command) {
        lines << QStringLiteral("用法：");
        for (const Command &c : kCommands)
            lines << QStringLiteral("  torvale-cli %1").arg(QString::fromUtf8(c.synopsis));
        lines << QStringLiteral("  torvale-cli 操作 --help    显示该操作的说明")
              << QStringLiteral("  torvale-cli --version     显示版本") << QString()
              << QStringLiteral("每个操作都可加 --dry-run：只显示将要做什么，不改动任何文件。")
              << QStringLiteral("退出状态：0 全部完成；1 操作被拒绝，或有文件被跳过或处理失败；2 用法错误。");
        return lines.join(QLatin1Char('\n'));
    }
    lines << QStringLiteral("用法：torvale-cli %1 [--dry-run]").arg(QString::fromUtf8(command->synopsis))
          << QString::fromUtf8(command->help) << QString() << QStringLiteral("选项：");
    for (const Option &o : command->options) {
        const QString name = QStringLiteral("--%1%2").arg(
            QLatin1String(o.name), o.value ? QLatin1Char(' ') + QLatin1String(o.value) : QString());
        lines << QStringLiteral("  %1%2").arg(name, -16).arg(QString::fromUtf8(o.help));
    }
    return lines.join(QLatin1Char('\n'));
}

int usage_error(const QString &why, const Command *command = nullptr)
{
    print_error(QStringLiteral("torvale-cli：%1").arg(why));
    print_error(
        command ? QStringLiteral("请用 torvale-cli %1 --help 查看用法。").arg(QLatin1String(command->name))
                : QStringLiteral("请用 torvale-cli --help 查看用法。"));
    return Usage;
}

struct Parsed
{
    QByteArray dir; // as given: a path is bytes
    QHash<QString, QString> values;
    bool dryRun = false;
    bool help = false;
};

// Reads the arguments after the operation: one folder and the options, as
// "--name value" or "--name=value".
// An argument as the user typed it, for a message.
QString shown_argument(const QByteArray &arg)
{
    return decode_argument(arg).value_or(QString::fromLatin1(arg.toPercentEncoding()));
}

std::optional<QString> parse(const Command &command, const QList<QByteArray> &args, Parsed *parsed)
{
    QList<QByteArray> folders;
    bool options = true;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QByteArray &arg = args[i];
        if (options && arg == "--") { // what follows are folders, whatever they look like
            options = false;
            continue;
        }
        if (options && (arg == "-h" || arg == "--help")) {
            parsed->help = true;
            continue;
        }
        if (!options || !arg.startsWith("--")) {
            folders << arg;
            continue;
        }
        const qsizetype equals = arg.indexOf('=');
        const QByteArray name = arg.mid(2, equals < 0 ? -1 : equals - 2);
        const auto option = std::find_if(command.options.cbegin(), command.options.cend(),
                                         [&](const Option &o) { return name == o.name; });
        if (option == command.options.cend())
            return QStringLiteral("未知的选项“--%1”").arg(shown_argument(name));
        const QString optionName = QString::fromLatin1(name);
        if (!option->value) {
            if (equals >= 0)
                return QStringLiteral("选项“--%1”不带值").arg(optionName);
            parsed->dryRun = true;
            continue;
        }
        QByteArray value;
        if (equals >= 0)
            value = arg.mid(equals + 1);
        else if (i + 1 < args.size() && !args[i + 1].startsWith("--"))
            value = args[++i];
        else if (i + 1 < args.size()) // a forgotten value: the next option is not one
            return QStringLiteral("选项“--%1”缺少值（值以“--”开头时请写成 --%1=值）").arg(optionName);
        else
            return QStringLiteral("选项“--%1”缺少值").arg(optionName);
        const std::optional<QString> text = decode_argument(value);
        if (!text)
            return QStringLiteral("选项“--%1”的值不是当前区域设置的字符集（%2）中的有效文字")
                .arg(optionName, QString::fromLatin1(locale_charset()));
        parsed->values.insert(optionName, *text);
    }
    if (parsed->help)
        return std::nullopt;
    if (folders.size() != 1)
        return QStringLiteral("需要一个且只能一个文件夹");
    parsed->dir = folders.constFirst();
    // The operation's field must hold text.
    const QString required = QLatin1String(command.required);
    if (parsed->values.value(required).isEmpty())
        return QStringLiteral("选项“--%1”必须填写，不能为空").arg(required);
    return std::nullopt;
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

int run(int argc, char *argv[])
{
    QList<QByteArray> args;
    for (int i = 1; i < argc; ++i)
        args << QByteArray(argv[i]);
    if (args.isEmpty())
        return usage_error(QStringLiteral("没有指定操作"));
    const QByteArray first = args.takeFirst();
    if (first == "--help" || first == "-h") {
        print_text(stdout, usage_text(nullptr));
        return Success;
    }
    if (first == "--version") {
        print(QStringLiteral("torvale-cli %1").arg(QLatin1String(TORVALE_VERSION)));
        return Success;
    }
    const auto command =
        std::find_if(kCommands.cbegin(), kCommands.cend(), [&](const Command &c) { return first == c.name; });
    if (command == kCommands.cend())
        return usage_error(QStringLiteral("未知的操作“%1”").arg(shown_argument(first)));
    Parsed parsed;
    if (const std::optional<QString> why = parse(*command, args, &parsed))
        return usage_error(*why, &*command);
    if (parsed.help) {
        print_text(stdout, usage_text(&*command));
        return Success;
    }
    QString why;
    if (!character_sets_available(&why)) {
        print_error(why);
        return Usage;
    }

    const QString &value = parsed.values.value(QLatin1String(command->required));
    switch (command->operation) {
    case Operation::Rename: {
        RenameParams params{parsed.dir, parsed.values.value(QStringLiteral("prefix")), value};
        if (locale_charset() != "UTF-8")
            params.nameCharset = locale_charset();
        if (parsed.values.contains(QStringLiteral("width"))) {
            bool ok = false;
            params.width = parsed.values.value(QStringLiteral("width")).toInt(&ok);
            if (!ok || params.width < 2 || params.width > 8)
                return usage_error(QStringLiteral("--width 的值应是 2 到 8 之间的数"), &*command);
        }
        const RenamePlan plan = plan_rename(params);
        return parsed.dryRun ? print_plan(plan)
                             : finish(Operation::Rename, apply_rename(plan, {}, &stopRequested));
    }
    case Operation::Replace: {
        const ReplaceParams params{parsed.dir, value, parsed.values.value(QStringLiteral("replace"))};
        return parsed.dryRun
                   ? print_plan(plan_replace(params, true))
                   : finish(Operation::Replace, apply_replace(plan_replace(params), {}, &stopRequested));
    }
    case Operation::Convert:
    case Operation::Undo:
        break;
    }
    const ConvertParams params{parsed.dir, value};
    return parsed.dryRun
               ? print_plan(plan_convert(params, true))
               : finish(Operation::Convert, apply_convert(plan_convert(params), {}, &stopRequested));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    stop_on_signals();
    int status = run(argc, argv);
    if (stopSignal != 0 && status != 128 + stopSignal) // stopped before anything was changed
        status = 128 + stopSignal;
    // Output that could not be written (a full disk, a closed pipe) is a failure too.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) || std::ferror(stderr))
        return status == Success ? Trouble : status;
    return status;
}
