// torvale-cli: the three batch operations of Torvale, without a window.

#include "ops/convert.h"
#include "ops/rename.h"
#include "ops/replace.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

using namespace torvale;

namespace {

enum ExitCode { Success = 0, Trouble = 1, Usage = 2 };

const char kUsage[] =
    "usage:\n"
    "  torvale-cli rename DIR --start S [--prefix P] [--width W] [--dry-run]\n"
    "  torvale-cli replace DIR --find TEXT [--replace TEXT] [--dry-run]\n"
    "  torvale-cli html DIR --title TEXT [--dry-run]\n"
    "--dry-run prints what the run would do, one line per file, and changes nothing.\n";

void print(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
}

int usage_error(const QString &why)
{
    print(stderr, QStringLiteral("torvale-cli: %1").arg(why));
    std::fputs(kUsage, stderr);
    return Usage;
}

// Prints what a run did and turns it into the exit status.
int finish(const Report &report, const QString &summary)
{
    if (report.status != Report::Status::Done) {
        print(stderr, report.message);
        return Trouble;
    }
    print(stdout, summary);
    for (const QString &note : report.notes)
        print(stdout, note);
    for (const Problem &p : report.problems)
        print(stderr, QStringLiteral("跳过 %1：%2").arg(p.name, p.reason));
    return report.problems.isEmpty() ? Success : Trouble;
}

// The plans, one line per file, for --dry-run.
int print_rename_plan(const RenamePlan &plan)
{
    for (qsizetype row = 0; row < plan.moves.size(); ++row) {
        const RenameMove &m = plan.moves[row];
        print(stdout, QStringLiteral("%1%2 → %3").arg(row == plan.problemRow ? QStringLiteral("✗ ") : QString(), m.from, m.to));
    }
    if (plan.ok())
        return Success;
    print(stderr, plan.refusal);
    return Trouble;
}

int print_replace_plan(const ReplacePlan &plan)
{
    if (!plan.refusal.isEmpty()) {
        print(stderr, plan.refusal);
        return Trouble;
    }
    for (const ReplacePlanItem &item : plan.items) {
        if (item.skipReason.isEmpty())
            print(stdout, QStringLiteral("%1：%2 处").arg(item.name).arg(item.occurrences));
        else
            print(stdout, QStringLiteral("%1：跳过：%2").arg(item.name, item.skipReason));
    }
    return Success;
}

int print_convert_plan(const ConvertPlan &plan)
{
    if (!plan.refusal.isEmpty()) {
        print(stderr, plan.refusal);
        return Trouble;
    }
    const QString replaces = QStringLiteral("（替换已有文件）");
    for (const ConvertItem &item : plan.items) {
        if (item.skipReason.isEmpty())
            print(stdout, QStringLiteral("%1 → %2%3").arg(item.source, item.page, item.replacesExisting ? replaces : QString()));
        else
            print(stdout, QStringLiteral("%1：跳过：%2").arg(item.source, item.skipReason));
    }
    print(stdout, QStringLiteral("index.htm%1").arg(plan.indexExists ? replaces : QString()));
    return Success;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    if (args.size() < 2)
        return usage_error(QStringLiteral("no operation given"));
    const QString operation = args.takeAt(1);

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption start(QStringLiteral("start"), QString(), QStringLiteral("S"));
    const QCommandLineOption prefix(QStringLiteral("prefix"), QString(), QStringLiteral("P"));
    const QCommandLineOption width(QStringLiteral("width"), QString(), QStringLiteral("W"));
    const QCommandLineOption find(QStringLiteral("find"), QString(), QStringLiteral("TEXT"));
    const QCommandLineOption replacement(QStringLiteral("replace"), QString(), QStringLiteral("TEXT"));
    const QCommandLineOption title(QStringLiteral("title"), QString(), QStringLiteral("TEXT"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    parser.addOption(dryRun);

    QList<QCommandLineOption> required;
    if (operation == QLatin1String("rename")) {
        parser.addOptions({start, prefix, width});
        required = {start};
    } else if (operation == QLatin1String("replace")) {
        parser.addOptions({find, replacement});
        required = {find};
    } else if (operation == QLatin1String("html")) {
        parser.addOptions({title});
        required = {title};
    } else {
        return usage_error(QStringLiteral("unknown operation '%1'").arg(operation));
    }
    if (!parser.parse(args))
        return usage_error(parser.errorText());
    if (parser.positionalArguments().size() != 1)
        return usage_error(QStringLiteral("give exactly one directory"));
    for (const QCommandLineOption &option : required) {
        if (!parser.isSet(option))
            return usage_error(QStringLiteral("--%1 is required").arg(option.names().constFirst()));
    }
    const QString dir = QDir(parser.positionalArguments().constFirst()).absolutePath();
    if (!QFileInfo(dir).isDir())
        return usage_error(QStringLiteral("'%1' is not a directory").arg(dir));

    if (operation == QLatin1String("rename")) {
        RenameParams params{dir, parser.value(prefix), parser.value(start), 0};
        if (parser.isSet(width)) {
            bool ok = false;
            params.width = parser.value(width).toInt(&ok);
            if (!ok || params.width < 2 || params.width > 8)
                return usage_error(QStringLiteral("--width takes a number from 2 to 8"));
        }
        if (parser.isSet(dryRun))
            return print_rename_plan(plan_rename(params));
        const Report report = run_rename(params);
        return finish(report, QStringLiteral("已更名 %1 个文件（共 %2 个）").arg(report.changed).arg(report.files));
    }
    if (operation == QLatin1String("replace")) {
        const ReplaceParams params{dir, parser.value(find), parser.value(replacement)};
        if (parser.isSet(dryRun))
            return print_replace_plan(plan_replace(params));
        const Report report = run_replace(params);
        return finish(report, QStringLiteral("修改了 %1 个文件，替换 %2 处（共 %3 个文件），跳过 %4 个")
                                  .arg(report.changed)
                                  .arg(report.occurrences)
                                  .arg(report.files)
                                  .arg(report.problems.size()));
    }
    const ConvertParams params{dir, parser.value(title)};
    if (parser.isSet(dryRun))
        return print_convert_plan(plan_convert(params, true));
    const Report report = run_convert(params);
    return finish(report, QStringLiteral("生成了 %1 个网页和 index.htm（共 %2 个 txt 文件），跳过 %3 个")
                              .arg(report.changed)
                              .arg(report.files)
                              .arg(report.problems.size()));
}
