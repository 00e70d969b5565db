#include "describe.h"

#include "pages.h"

#include "files/listing.h"

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

// The folder with the files its table lists (also those left out by name,
// whose rows stay): "文件夹：/home/me（3 个文件）"; files the plan looked at
// but does not list are counted apart.
QString table_folder_line(const PlanBase &plan, int listed, const QString &kind, int unlisted = 0)
{
    if (!plan.folder || unlisted == 0)
        return folder_line(plan, listed, kind);
    return QStringLiteral("文件夹：%1（列出 %2 个%3，另有 %4 个文件不含查找字符串）")
        .arg(plan.folder->path())
        .arg(listed)
        .arg(kind)
        .arg(unlisted);
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

const QString kLeftOutByName = QStringLiteral("不处理");

// The first few names: "a.txt、b.txt……".
QString listed(const std::vector<const FileName *> &names)
{
    constexpr size_t kListed = 10;
    QStringList shown;
    for (size_t i = 0; i < names.size() && i < kListed; ++i)
        shown << names[i]->shown();
    return shown.join(QStringLiteral("、")) + (names.size() > kListed ? QStringLiteral("……") : QString());
}

// The files that a plan's filter left out by name (or by its patterns), in
// the order of the listing.
std::vector<const FileName *> left_out(const PlanBase &plan, bool byName)
{
    std::vector<const FileName *> names;
    for (const FileName &name : plan.leftOut) {
        if (plan.filter.left_out().contains(name.bytes) == byName)
            names.push_back(&name);
    }
    return names;
}

// The rows of a plan's files after its leading rows: those of the files it
// takes (an index among count), with the files left out by name at their
// places among them, so that a row the person leaves out stays where it was.
struct FileRows
{
    int leading = 0;
    qint32 count = 0;
    std::shared_ptr<std::vector<const FileName *>> byName;
    std::shared_ptr<std::vector<qint32>> merged; // -1 - k: byName[k]; none: row i is file i

    int size() const { return merged ? int(merged->size()) : count; }
    qint32 at(int row) const { return merged ? (*merged)[size_t(row - leading)] : row - leading; }
    const FileName &left_out(qint32 i) const { return *(*byName)[size_t(-1 - i)]; }
};

FileRows file_rows(const PlanBase &plan, qint32 count, const std::function<const FileName &(qint32)> &name)
{
    FileRows rows{plan.leading_rows(), count,
                  std::make_shared<std::vector<const FileName *>>(left_out(plan, true)), nullptr};
    if (rows.byName->empty())
        return rows;
    rows.merged = std::make_shared<std::vector<qint32>>();
    rows.merged->reserve(size_t(count) + rows.byName->size());
    for (qint32 i = 0, k = 0; i < count || k < qint32(rows.byName->size());) {
        if (k < qint32(rows.byName->size()) &&
            (i == count || natural_less(*(*rows.byName)[size_t(k)], name(i))))
            rows.merged->push_back(-1 - k++);
        else
            rows.merged->push_back(i++);
    }
    return rows;
}

// The hits of a file: "…今天是【2024-01-05 → 05/01/2024】星期五…".
QString hits_text(const std::vector<Hit> &hits)
{
    QStringList shown;
    for (const Hit &h : hits)
        shown << escaped_controls(h.before) + QStringLiteral("【") + escaped_controls(h.match) + kArrow +
                     escaped_controls(h.replacement) + QStringLiteral("】") + escaped_controls(h.after);
    return shown.join(QStringLiteral("  "));
}

} // namespace

QString describe_choices(const NameFilter &filter, SearchOptions options)
{
    QStringList parts;
    if (!filter.include().isEmpty())
        parts << QStringLiteral("仅 %1").arg(filter.include().join(QStringLiteral("、")));
    if (!filter.exclude().isEmpty())
        parts << QStringLiteral("不含 %1").arg(filter.exclude().join(QStringLiteral("、")));
    if (options.regex)
        parts << QStringLiteral("正则表达式");
    if (options.ignoreCase)
        parts << QStringLiteral("忽略大小写");
    return parts.join(QStringLiteral("；"));
}

QString describe_choices(const PlanBase &plan, SearchOptions options)
{
    QStringList lines;
    if (const QString chosen = describe_choices(plan.filter, options); !chosen.isEmpty())
        lines << QStringLiteral("选项：") + chosen;
    if (const auto byPattern = left_out(plan, false); !byPattern.empty())
        lines << QStringLiteral("按条件略过 %1 个文件：%2").arg(byPattern.size()).arg(listed(byPattern));
    if (const auto byName = left_out(plan, true); !byName.empty())
        lines << QStringLiteral("未勾选、不处理的 %1 个文件：%2").arg(byName.size()).arg(listed(byName));
    return lines.join(QLatin1Char('\n'));
}

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
    t.choices = describe_choices(plan);
    const FileRows rows = file_rows(plan, qint32(plan.sources.size()), [&plan](qint32 i) -> const FileName & {
        return plan.sources[size_t(i)].name;
    });
    t.folder = table_folder_line(plan, rows.size(), QStringLiteral("文件"));
    t.rowCount = rows.leading + rows.size();
    t.cells = [&plan, rows](int row) -> QStringList {
        if (row < rows.leading)
            return leading_cells(plan, row, 2);
        const qint32 i = rows.at(row);
        if (i < 0)
            return {rows.left_out(i).shown(), kLeftOutByName};
        return {plan.sources[size_t(i)].name.shown(), plan.targets[size_t(i)].shown()};
    };
    t.marked = [&plan, rows](int row) {
        return row >= rows.leading && plan.problemRow >= 0 && rows.at(row) == plan.problemRow;
    };
    t.file = [&plan, rows](int row) -> QByteArray {
        if (row < rows.leading)
            return {};
        const qint32 i = rows.at(row);
        return i < 0 ? rows.left_out(i).bytes : plan.sources[size_t(i)].name.bytes;
    };
    return t;
}

PlanTable describe_plan(const ReplacePlan &plan, std::shared_ptr<const FileHits> hits)
{
    QStringList headers{QStringLiteral("文件"), QStringLiteral("结果")};
    if (hits)
        headers << QStringLiteral("示例");
    PlanTable t = begin_table(Operation::Replace, plan, headers, {kColon, kColon});
    t.choices = describe_choices(plan, plan.options);
    // Only the files that would change or be skipped have a row.
    auto shownFiles = std::make_shared<std::vector<qint32>>();
    int withoutHits = 0;
    for (qint32 i = 0; i < qint32(plan.files.size()); ++i) {
        if (plan.occurrences[size_t(i)] > 0 || plan.skipReasons.contains(i))
            shownFiles->push_back(i);
        else
            withoutHits += plan.occurrences[size_t(i)] == 0;
    }
    const FileRows rows =
        file_rows(plan, qint32(shownFiles->size()), [&plan, shownFiles](qint32 i) -> const FileName & {
            return plan.files[size_t((*shownFiles)[size_t(i)])].name;
        });
    t.folder = table_folder_line(plan, rows.size(), QStringLiteral("文件"), withoutHits);
    t.rowCount = rows.leading + rows.size();
    // (Negative for a file left out by name.)
    auto fileAt = [rows, shownFiles](int row) {
        const qint32 i = rows.at(row);
        return i < 0 ? i : (*shownFiles)[size_t(i)];
    };
    t.cells = [&plan, rows, fileAt, hits](int row) -> QStringList {
        if (row < rows.leading)
            return leading_cells(plan, row, hits ? 3 : 2);
        const qint32 i = fileAt(row);
        if (i < 0)
            return {rows.left_out(i).shown(), kLeftOutByName};
        const QString reason = plan.skipReasons.value(i);
        QStringList cells{plan.files[size_t(i)].name.shown(),
                          reason.isEmpty() ? QStringLiteral("替换 %1 处").arg(plan.occurrences[size_t(i)])
                                           : skipped(reason)};
        if (hits && hits->contains(i))
            cells << hits_text(hits->value(i));
        return cells;
    };
    t.marked = [&plan, rows, fileAt](int row) {
        return row >= rows.leading && plan.skipReasons.contains(fileAt(row));
    };
    t.file = [&plan, rows, fileAt](int row) -> QByteArray {
        if (row < rows.leading)
            return {};
        const qint32 i = fileAt(row);
        return i < 0 ? rows.left_out(i).bytes : plan.files[size_t(i)].name.bytes;
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
    t.choices = describe_choices(plan);
    const FileRows rows = file_rows(plan, qint32(plan.items.size()), [&plan](qint32 i) -> const FileName & {
        return plan.items[size_t(i)].source.name;
    });
    t.folder = table_folder_line(plan, rows.size(), QStringLiteral(" txt 文件"));
    const int pages = rows.leading + rows.size();
    t.rowCount = plan.ok() ? pages + 1 : pages; // and index.htm
    t.cells = [&plan, rows, pages](int row) -> QStringList {
        const QString created = QStringLiteral("新建"), replaced = QStringLiteral("替换已有文件");
        if (row < rows.leading)
            return leading_cells(plan, row, 3);
        if (row == pages) {
            return {QString(), kIndexName,
                    !plan.indexSkipReason.isEmpty()
                        ? skipped(plan.indexSkipReason)
                        : QStringLiteral("索引，%1").arg(plan.index.exists() ? replaced : created)};
        }
        const qint32 i = rows.at(row);
        if (i < 0)
            return {rows.left_out(i).shown(), QString(), kLeftOutByName};
        const ConvertItem &item = plan.items[size_t(i)];
        if (!item.skipReason.isEmpty())
            return {item.source.name.shown(), QString(), skipped(item.skipReason)};
        return {item.source.name.shown(), item.page.shown(), item.pageStamp.exists() ? replaced : created};
    };
    t.marked = [&plan, rows, pages](int row) {
        if (row == pages)
            return !plan.indexSkipReason.isEmpty();
        return row >= rows.leading && rows.at(row) >= 0 &&
               !plan.items[size_t(rows.at(row))].skipReason.isEmpty();
    };
    t.file = [&plan, rows, pages](int row) -> QByteArray {
        if (row < rows.leading || row == pages)
            return {};
        const qint32 i = rows.at(row);
        return i < 0 ? rows.left_out(i).bytes : plan.items[size_t(i)].source.name.bytes;
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
