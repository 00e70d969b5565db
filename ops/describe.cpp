#include "describe.h"

#include "pages.h"

#include <algorithm>
#include <memory>

namespace torvale {

namespace {

const QString kArrow = QStringLiteral(" → ");
const QString kColon = QStringLiteral("：");

QString skipped(const QString &reason)
{
    return QStringLiteral("跳过：%1").arg(reason);
}

QString folder_line(const PlanBase &plan, int files, const QString &kind)
{
    if (!plan.folder)
        return {};
    return QStringLiteral("文件夹：%1（%2 个%3）").arg(plan.folder->path()).arg(files).arg(kind);
}

PlanTable begin_table(Operation operation, const PlanBase &plan, const QStringList &headers,
                      const QStringList &separators)
{
    PlanTable table;
    table.operation = operation;
    table.statement = plan.refusal.isEmpty() ? undo_warning(plan) : plan.refusal;
    table.headers = headers;
    table.separators = separators;
    table.leadingRows = plan.leading_rows();
    return table;
}

// The rows that come before a plan's files: the program's own temporary
// files that the run removes, those it keeps and names, and the files of an
// interrupted rename that get their names back.
QStringList leading_cells(const PlanBase &plan, int row, int columns)
{
    QStringList cells;
    QString what;
    const int leftovers = int(plan.leftovers.size()), kept = leftovers + int(plan.kept.size());
    if (row < leftovers) {
        cells << plan.leftovers[size_t(row)].name.shown();
        what = QStringLiteral("删除（上次被中断的操作留下的临时文件）");
    } else if (row < kept) {
        const KeptFile &k = plan.kept[size_t(row - leftovers)];
        cells << k.entry.name.shown();
        what = QStringLiteral("保留（%1）").arg(k.why);
    } else {
        const Recovery &r = plan.recovery[size_t(row - kept)];
        cells << r.parked.shown();
        what = QStringLiteral("恢复为“%1”（上次被中断的更名留下的文件）").arg(r.name.shown());
    }
    while (cells.size() < columns - 1)
        cells << QString();
    return cells << what;
}

} // namespace

QString PlanTable::line(int row) const
{
    const QStringList parts = cells(row);
    QString text;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (parts[i].isEmpty())
            continue;
        if (!text.isEmpty())
            text += row < leadingRows ? kColon : separators.value(i - 1, kColon);
        text += parts[i];
    }
    return marked(row) ? QStringLiteral("× ") + text : text;
}

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

QString operation_key(Operation operation)
{
    switch (operation) {
    case Operation::Rename:
        return QStringLiteral("rename");
    case Operation::Convert:
        return QStringLiteral("html");
    case Operation::Replace:
        return QStringLiteral("replace");
    case Operation::Undo:
        break;
    }
    return QStringLiteral("undo");
}

Operation operation_of(const QString &key)
{
    for (const Operation o : {Operation::Rename, Operation::Convert, Operation::Replace}) {
        if (operation_key(o) == key)
            return o;
    }
    return Operation::Undo;
}

QString describe_folder(const RenamePlan &plan)
{
    return folder_line(plan, int(plan.sources.size()), QStringLiteral("文件"));
}

QString describe_folder(const ReplacePlan &plan)
{
    return folder_line(plan, int(plan.files.size()), QStringLiteral("文件"));
}

QString describe_folder(const ConvertPlan &plan)
{
    return folder_line(plan, int(plan.items.size()), QStringLiteral(" txt 文件"));
}

PlanTable describe_plan(const RenamePlan &plan)
{
    PlanTable t = begin_table(Operation::Rename, plan,
                              {QStringLiteral("原文件名"), QStringLiteral("新文件名")}, {kArrow});
    t.folder = describe_folder(plan);
    const int leading = plan.leading_rows();
    t.rowCount = leading + int(plan.sources.size());
    t.cells = [&plan, leading](int row) -> QStringList {
        if (row < leading)
            return leading_cells(plan, row, 2);
        return {plan.sources[size_t(row - leading)].name.shown(),
                plan.targets[size_t(row - leading)].shown()};
    };
    t.marked = [&plan, leading](int row) { return plan.problemRow >= 0 && row - leading == plan.problemRow; };
    return t;
}

PlanTable describe_plan(const ReplacePlan &plan)
{
    PlanTable t =
        begin_table(Operation::Replace, plan, {QStringLiteral("文件"), QStringLiteral("结果")}, {kColon});
    t.folder = describe_folder(plan);
    // Only the files that would change or be skipped have a row.
    auto shownFiles = std::make_shared<std::vector<qint32>>();
    for (qint32 i = 0; i < qint32(plan.files.size()); ++i) {
        if (plan.occurrences[size_t(i)] > 0 || plan.skipReasons.contains(i))
            shownFiles->push_back(i);
    }
    const int leftovers = plan.leading_rows();
    t.rowCount = leftovers + int(shownFiles->size());
    t.cells = [&plan, leftovers, shownFiles](int row) -> QStringList {
        if (row < leftovers)
            return leading_cells(plan, row, 2);
        const qint32 i = (*shownFiles)[size_t(row - leftovers)];
        const QString reason = plan.skipReasons.value(i);
        return {plan.files[size_t(i)].name.shown(),
                reason.isEmpty() ? QStringLiteral("替换 %1 处").arg(plan.occurrences[size_t(i)])
                                 : skipped(reason)};
    };
    t.marked = [&plan, leftovers, shownFiles](int row) {
        return row >= leftovers && plan.skipReasons.contains((*shownFiles)[size_t(row - leftovers)]);
    };
    if (plan.ok() && t.rowCount == 0)
        t.statement = QStringLiteral("没有文件含有查找字符串，不会改动任何文件。");
    return t;
}

PlanTable describe_plan(const ConvertPlan &plan)
{
    PlanTable t = begin_table(Operation::Convert, plan,
                              {QStringLiteral("文本文件"), QStringLiteral("网页"), QStringLiteral("说明")},
                              {kArrow, kColon});
    t.folder = describe_folder(plan);
    const int leftovers = plan.leading_rows(), pages = leftovers + int(plan.items.size());
    t.rowCount = plan.ok() ? pages + 1 : pages; // and index.htm
    t.cells = [&plan, leftovers, pages](int row) -> QStringList {
        const QString created = QStringLiteral("新建"), replaced = QStringLiteral("替换已有文件");
        if (row < leftovers)
            return leading_cells(plan, row, 3);
        if (row == pages) {
            return {QString(), kIndexName,
                    !plan.indexSkipReason.isEmpty()
                        ? skipped(plan.indexSkipReason)
                        : QStringLiteral("索引，%1").arg(plan.index.exists() ? replaced : created)};
        }
        const ConvertItem &item = plan.items[size_t(row - leftovers)];
        if (!item.skipReason.isEmpty())
            return {item.source.name.shown(), QString(), skipped(item.skipReason)};
        return {item.source.name.shown(), item.page.shown(), item.pageStamp.exists() ? replaced : created};
    };
    t.marked = [&plan, leftovers, pages](int row) {
        return row == pages ? !plan.indexSkipReason.isEmpty()
                            : row >= leftovers && !plan.items[size_t(row - leftovers)].skipReason.isEmpty();
    };
    return t;
}

ReportText describe_report(Operation operation, const Report &report)
{
    ReportText text;
    const int skips = int(std::count_if(report.problems.cbegin(), report.problems.cend(),
                                        [](const Problem &p) { return !p.wholeFolder; }));
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
        text.summary =
            QStringLiteral("生成了 %1 个网页%2（共 %3 个 txt 文件），跳过 %4 个")
                .arg(report.changed)
                .arg(report.indexWritten ? QStringLiteral("和 index.htm")
                                         : QStringLiteral("，未写入 index.htm"))
                .arg(report.files)
                .arg(skips - int(std::count_if(report.problems.cbegin(), report.problems.cend(),
                                               [](const Problem &p) { return p.name == kIndexName; })));
        break;
    case Operation::Undo:
        text.summary = QStringLiteral("撤销了 %1 处改动（共 %2 处）").arg(report.changed).arg(report.files);
        break;
    }
    if (report.filteredOut > 0)
        text.summary += QStringLiteral("，按条件略过 %1 个文件").arg(report.filteredOut);
    if (report.status == Report::Status::Stopped)
        text.summary += QStringLiteral("（操作被停止）");
    if (!report.problems.isEmpty() && skips == 0)
        text.heading = QStringLiteral("文件都已处理完毕，但有以下问题：");
    else if (!report.problems.isEmpty())
        text.heading = report.changed > 0 ? QStringLiteral("以下文件被跳过或处理失败，其它文件已处理完毕：")
                                          : QStringLiteral("以下文件被跳过或处理失败：");
    for (const Problem &p : report.problems)
        text.problems << p.name + kColon + p.reason;
    return text;
}

PlanTable describe_plan(const UndoPlan &plan)
{
    PlanTable t =
        begin_table(Operation::Undo, plan, {QStringLiteral("文件"), QStringLiteral("撤销")}, {kColon});
    if (plan.ok())
        t.statement = QStringLiteral("撤销%1年%2的“%3”：%4 处改动。")
                          .arg(plan.run.time.toLocalTime().toString(QStringLiteral("yyyy")),
                               plan.run.time.toLocalTime().toString(QStringLiteral("M月d日 HH:mm:ss")),
                               operation_name(operation_of(plan.run.operation)))
                          .arg(plan.run.changes.size());
    const int leading = plan.leading_rows(), restored = leading + int(plan.restore.size());
    t.rowCount = restored + int(plan.leftAlone.size());
    t.cells = [&plan, leading, restored](int row) -> QStringList {
        if (row < leading)
            return leading_cells(plan, row, 2);
        if (row >= restored) {
            const Problem &p = plan.leftAlone[row - restored];
            return {p.name, skipped(p.reason)};
        }
        const Change &c = plan.restore[size_t(row - leading)].change;
        const QString name = FileName::from_bytes(c.name).shown();
        switch (c.kind) {
        case Change::Kind::Renamed:
            return {name, QStringLiteral("改回“%1”").arg(FileName::from_bytes(c.oldName).shown())};
        case Change::Kind::Rewritten:
            return {name, QStringLiteral("恢复原来的内容")};
        case Change::Kind::Created:
            break;
        }
        return {name, QStringLiteral("删除（这次操作新建的文件）")};
    };
    t.marked = [restored](int row) { return row >= restored; };
    return t;
}

QString describe_run(const HistoryRun &run, const Folder *folder, bool showFolder)
{
    QString state;
    switch (run.state) {
    case HistoryRun::State::Undone:
        state = run.notRestored.isEmpty()
                    ? QStringLiteral("已撤销")
                    : QStringLiteral("已撤销（%1 个文件未能恢复）").arg(run.notRestored.size());
        break;
    case HistoryRun::State::Running:
    case HistoryRun::State::Done:
        if (!run.undoable) {
            state = QStringLiteral("无法撤销");
        } else if (!folder) {
            state = QStringLiteral("文件夹已不在");
        } else {
            const int changed = files_changed_since(run, *folder);
            state = changed == 0 ? QStringLiteral("可以撤销，文件都保持操作后的样子")
                                 : QStringLiteral("可以撤销，但有 %1 个文件已被改动").arg(changed);
        }
        if (run.state == HistoryRun::State::Running)
            state = QStringLiteral("被中断，") + state;
        break;
    }
    QString line = QStringLiteral("%1  %2  %3 处改动  %4")
                       .arg(run.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                            operation_name(operation_of(run.operation)))
                       .arg(run.changes.size())
                       .arg(state);
    if (showFolder)
        line += QStringLiteral("  ") + FileName::from_bytes(run.folderPath).shown();
    if (!run.parameters.isEmpty())
        line += QStringLiteral("\n    ") + run.parameters.join(QStringLiteral("；"));
    return line;
}

} // namespace torvale
