#include "options.h"

#include "files/console.h"

#include <algorithm>

namespace {

const OptionSpec kDryRun{"dry-run", 'n', nullptr, "只显示将要做什么（每个文件一行），不改动任何文件"};
const OptionSpec kNoUndo{"no-undo", 0, nullptr, "不记入撤销历史（不保存文件原来的内容）"};
const OptionSpec kRequireUndo{"require-undo", 0, nullptr, "无法记入撤销历史时不执行"};
const OptionSpec kInclude{"include", 0, "GLOB", "只处理名称与模式相符的文件（可多次给出），如 *.jpg", true};
const OptionSpec kExclude{"exclude", 0, "GLOB", "不处理名称与模式相符的文件（可多次给出），如 desktop.ini",
                          true};
const OptionSpec kJson{"json", 0, nullptr, "输出 JSON：每个文件一行一个对象，最后一行是汇总"};
const OptionSpec kQuiet{"quiet", 'q', nullptr, "只输出错误"};
const OptionSpec kVerbose{"verbose", 'v', nullptr, "列出每个改动了的文件，每行一个"};

// An operation's own options, then those every operation has.
QList<OptionSpec> operation_options(QList<OptionSpec> own)
{
    return own << QList<OptionSpec>{kDryRun, kInclude, kExclude, kJson,
                                    kQuiet,  kVerbose, kNoUndo,  kRequireUndo};
}

} // namespace

const QList<CommandSpec> &commands()
{
    static const QList<CommandSpec> list = {
        {"rename", CommandKind::Rename, "rename 文件夹 --start 起始序数 [--prefix 前缀] [--width 位数]",
         "把文件夹中的每个文件改名为：前缀、序号、“.”和小写的扩展名。",
         operation_options({
             {"start", 0, "S", "起始序数（必填），读法与窗口相同：12abc 为 12，没有数字为 0"},
             {"prefix", 0, "P", "文件名前缀，两端的空格不计"},
             {"width", 0, "W", "序号位数（2 到 8），不足时前面补 0"},
         }),
         "start", false},
        {"replace", CommandKind::Replace, "replace 文件夹 --find 查找字符串 [--replace 替换字符串]",
         "在文件夹的每个文本文件中查找并替换；没有查找字符串的文件不被改动。",
         operation_options({
             {"find", 0, "TEXT", "查找字符串（必填），区分大小写（除非加 -i）"},
             {"replace", 0, "TEXT", "替换字符串；不填则删除查找到的字符串"},
             {"regex", 'E', nullptr,
              "查找字符串是正则表达式（PCRE2），在每一行解码后的文字上匹配；"
              "替换字符串中可用 $1…$9、${名字} 和 $$"},
             {"ignore-case", 'i', nullptr, "不区分大小写（各种有大小写的文字，包括全角字母）"},
         }),
         "find", false},
        {"html", CommandKind::Html, "html 文件夹 --title 索引文件标题",
         "把文件夹中每个 txt 文件转换为同名网页，并生成链接所有网页的 index.htm。",
         operation_options({{"title", 0, "TEXT", "索引文件标题（必填）"}}), "title", false},
        {"undo",
         CommandKind::Undo,
         "undo 文件夹",
         "撤销这个文件夹中最近一次还没有撤销的操作（窗口中或命令行的操作都可以）。之后的"
         "文件若已被改动、改名或删除，则保持原样并列出。再次执行可继续撤销更早的操作。",
         {kDryRun, kJson, kQuiet, kVerbose},
         nullptr,
         false},
        {"history",
         CommandKind::History,
         "history [文件夹] [--clear] [--limit 大小]",
         "列出可以撤销的操作，最新的在前：操作、时间、文件数，以及文件是否仍保持操作后的样子。"
         "不给文件夹时列出所有文件夹的。",
         {{"clear", 0, nullptr, "清空撤销历史（删除其中保存的所有文件原来的内容）"},
          {"limit", 0, "SIZE",
           "撤销历史最多占用的空间，如 500M、2G；0 为默认（2G 与可用空间的 10% 中较小者）"}},
         nullptr,
         true},
    };
    return list;
}

QString shown_argument(const QByteArray &arg)
{
    return torvale::decode_argument(arg).value_or(QString::fromLatin1(arg.toPercentEncoding()));
}

std::optional<QString> parse_arguments(const CommandSpec &command, const QList<QByteArray> &args,
                                       Arguments *parsed)
{
    QList<QByteArray> folders;
    bool options = true;
    auto take = [&](const OptionSpec &option, std::optional<QByteArray> value,
                    qsizetype *i) -> std::optional<QString> {
        const QString name = QLatin1String(option.name);
        if (!option.value) {
            if (value)
                return QStringLiteral("选项“--%1”不带值").arg(name);
            parsed->switches.insert(name);
            return std::nullopt;
        }
        if (!value) {
            if (*i + 1 >= args.size())
                return QStringLiteral("选项“--%1”缺少值").arg(name);
            if (args[*i + 1].startsWith("--")) // a forgotten value: the next option is not one
                return QStringLiteral("选项“--%1”缺少值（值以“--”开头时请写成 --%1=值）").arg(name);
            value = args[++*i];
        }
        const std::optional<QString> text = torvale::decode_argument(*value);
        if (!text)
            return QStringLiteral("选项“--%1”的值不是当前区域设置的字符集（%2）中的有效文字")
                .arg(name, QString::fromLatin1(torvale::locale_charset()));
        if (parsed->values.contains(name) && !option.repeatable)
            return QStringLiteral("选项“--%1”只能给出一次").arg(name);
        parsed->values[name] << *text;
        return std::nullopt;
    };
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
        if (!options || !arg.startsWith('-') || arg == "-") {
            folders << arg;
            continue;
        }
        std::optional<QString> wrong;
        if (arg.startsWith("--")) {
            const qsizetype equals = arg.indexOf('=');
            const QByteArray name = arg.mid(2, equals < 0 ? -1 : equals - 2);
            const auto option = std::find_if(command.options.cbegin(), command.options.cend(),
                                             [&](const OptionSpec &o) { return name == o.name; });
            if (option == command.options.cend())
                return QStringLiteral("未知的选项“--%1”").arg(shown_argument(name));
            wrong = take(*option, equals < 0 ? std::nullopt : std::optional(arg.mid(equals + 1)), &i);
        } else {
            // Short switches, one or several together ("-n").
            for (const char letter : arg.mid(1)) {
                const auto option =
                    std::find_if(command.options.cbegin(), command.options.cend(),
                                 [&](const OptionSpec &o) { return o.letter && o.letter == letter; });
                if (option == command.options.cend())
                    return QStringLiteral("未知的选项“-%1”").arg(shown_argument(QByteArray(1, letter)));
                if ((wrong = take(*option, std::nullopt, &i)))
                    break;
            }
        }
        if (wrong)
            return wrong;
    }
    if (parsed->help)
        return std::nullopt;
    if (folders.size() > 1 || (folders.isEmpty() && !command.folderOptional))
        return QStringLiteral("需要一个且只能一个文件夹");
    parsed->dir = folders.value(0);
    if (command.required && parsed->value(command.required).isEmpty())
        return QStringLiteral("选项“--%1”必须填写，不能为空").arg(QLatin1String(command.required));
    return std::nullopt;
}

QString usage_text(const CommandSpec *command)
{
    QStringList lines;
    if (!command) {
        lines << QStringLiteral("用法：");
        for (const CommandSpec &c : commands())
            lines << QStringLiteral("  torvale-cli %1").arg(QString::fromUtf8(c.synopsis));
        lines << QStringLiteral("  torvale-cli 操作 --help    显示该操作的说明")
              << QStringLiteral("  torvale-cli --version     显示版本") << QString()
              << QStringLiteral("每个操作都可加 --dry-run（-n）：只显示将要做什么，不改动任何文件。")
              << QStringLiteral("每次改动了文件的操作都记入撤销历史，可以用 torvale-cli undo 撤销。")
              << QStringLiteral("退出状态：0 全部完成；1 操作被拒绝，或有文件被跳过或处理失败；2 用法错误；"
                                "被 Ctrl-C 等信号停止时为 128 加信号编号。");
        return lines.join(QLatin1Char('\n'));
    }
    lines << QStringLiteral("用法：torvale-cli %1").arg(QString::fromUtf8(command->synopsis))
          << QString::fromUtf8(command->help) << QString() << QStringLiteral("选项：");
    for (const OptionSpec &o : command->options) {
        QString name = QStringLiteral("--%1%2").arg(
            QLatin1String(o.name), o.value ? QLatin1Char(' ') + QLatin1String(o.value) : QString());
        if (o.letter)
            name = QStringLiteral("-%1, %2").arg(QLatin1Char(o.letter)).arg(name);
        lines << QStringLiteral("  %1%2").arg(name, -20).arg(QString::fromUtf8(o.help));
    }
    return lines.join(QLatin1Char('\n'));
}
