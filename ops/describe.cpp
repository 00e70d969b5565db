#include "describe.h"

#include "pages.h"

namespace torvale {

namespace {

const QString kArrow = QStringLiteral(" → ");
const QString kColon = QStringLiteral("：");

QString skipped(const QString &reason)
{
    return QStringLiteral("跳过：%1").arg(reason);
}

struct TableBuilder
{
    PlanTable table;
    void add(const QStringList &cells, const QString &line, bool marked = false)
    {
        if (marked)
            table.marked.insert(int(table.rows.size()));
        table.rows.append(cells);
        table.lines.append(marked ? QStringLiteral("✗ ") + line : line);
    }
    // The program's own temporary files that the run removes.
    void add_leftovers(const PlanBase &plan, int columns)
    {
        const QString what = QStringLiteral("删除（上次被中断的操作留下的临时文件）");
        for (const Entry &e : plan.leftovers) {
            QStringList cells{e.name.shown()};
            while (cells.size() < columns - 1)
                cells << QString();
            add(cells << what, e.name.shown() + kColon + what);
        }
    }
};

TableBuilder begin_table(Operation operation, const PlanBase &plan, const QStringList &headers)
{
    TableBuilder builder;
    builder.table.operation = operation;
    builder.table.statement = plan.refusal;
    builder.table.headers = headers;
    return builder;
}

} // namespace

QString operation_name(Operation operation)
{
    switch (operation) {
    case Operation::Rename:
        return QStringLiteral("文件更名");
    case Operation::Convert:
        return QStringLiteral("TXT→HTML");
    case Operation::Replace:
        return QStringLiteral("查找替换");
    case Operation::Undo:
        break;
    }
    return QStringLiteral("撤销上次操作");
}

PlanTable describe_plan(const RenamePlan &plan)
{
    TableBuilder b =
        begin_table(Operation::Rename, plan, {QStringLiteral("原文件名"), QStringLiteral("新文件名")});
    b.add_leftovers(plan, 2);
    for (const Recovery &r : plan.recovery) {
        const QString to = QStringLiteral("%1（恢复上次被中断的更名）").arg(r.name.shown());
        b.add({r.parked.shown(), to}, r.parked.shown() + kArrow + to);
    }
    for (qsizetype row = 0; row < qsizetype(plan.moves.size()); ++row) {
        const RenameMove &m = plan.moves[size_t(row)];
        b.add({m.from.shown(), m.to.shown()}, m.from.shown() + kArrow + m.to.shown(), row == plan.problemRow);
    }
    return b.table;
}

PlanTable describe_plan(const ReplacePlan &plan)
{
    TableBuilder b = begin_table(Operation::Replace, plan, {QStringLiteral("文件"), QStringLiteral("结果")});
    b.add_leftovers(plan, 2);
    for (const ReplaceItem &item : plan.items) {
        const QString name = item.file.name.shown();
        QString result;
        if (!item.skipReason.isEmpty())
            result = skipped(item.skipReason);
        else if (item.occurrences > 0)
            result = QStringLiteral("替换 %1 处").arg(item.occurrences);
        else
            continue;
        b.add({name, result}, name + kColon + result, !item.skipReason.isEmpty());
    }
    if (plan.ok() && b.table.rows.isEmpty())
        b.table.statement = QStringLiteral("没有文件含有查找字符串，不会改动任何文件。");
    return b.table;
}

PlanTable describe_plan(const ConvertPlan &plan)
{
    TableBuilder b =
        begin_table(Operation::Convert, plan,
                    {QStringLiteral("文本文件"), QStringLiteral("网页"), QStringLiteral("说明")});
    b.add_leftovers(plan, 3);
    const QString created = QStringLiteral("新建"), replaced = QStringLiteral("替换已有文件");
    for (const ConvertItem &item : plan.items) {
        const QString source = item.source.name.shown();
        if (!item.skipReason.isEmpty()) {
            b.add({source, QString(), skipped(item.skipReason)}, source + kColon + skipped(item.skipReason),
                  true);
        } else {
            const QString what = item.pageStamp.exists() ? replaced : created;
            b.add({source, item.page.shown(), what}, source + kArrow + item.page.shown() + kColon + what);
        }
    }
    if (plan.ok()) {
        const QString what = !plan.indexSkipReason.isEmpty()
                                 ? skipped(plan.indexSkipReason)
                                 : QStringLiteral("索引，%1").arg(plan.index.exists() ? replaced : created);
        b.add({QString(), kIndexName, what}, kIndexName + kColon + what, !plan.indexSkipReason.isEmpty());
    }
    return b.table;
}

ReportText describe_report(Operation operation, const Report &report)
{
    ReportText text;
    const int skips = int(report.problems.size());
    switch (operation) {
    case Operation::Rename:
        text.summary = QStringLiteral("已更名 %1 个文件（共 %2 个）").arg(report.changed).arg(report.files);
        break;
    case Operation::Replace:
        text.summary = QStringLiteral("修改了 %1 个文件，替换 %2 处（共 %3 个文件），跳过 %4 个")
                           .arg(report.changed)
                           .arg(report.occurrences)
                           .arg(report.files)
                           .arg(skips);
        break;
    case Operation::Convert:
        text.summary = QStringLiteral("生成了 %1 个网页%2（共 %3 个 txt 文件），跳过 %4 个")
                           .arg(report.changed)
                           .arg(report.indexWritten ? QStringLiteral("和 index.htm")
                                                    : QStringLiteral("，未写入 index.htm"))
                           .arg(report.files)
                           .arg(skips - (report.indexWritten ? 0 : 1));
        break;
    case Operation::Undo:
        text.summary = QStringLiteral("撤销了 %1 处改动（共 %2 处）").arg(report.changed).arg(report.files);
        break;
    }
    if (skips > 0) {
        text.heading = report.changed > 0 ? QStringLiteral("以下文件被跳过或处理失败，其它文件已处理完毕：")
                                          : QStringLiteral("以下文件被跳过或处理失败：");
    }
    for (const Problem &p : report.problems)
        text.problems << p.name + kColon + p.reason;
    return text;
}

} // namespace torvale
