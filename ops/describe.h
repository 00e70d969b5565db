#pragma once

#include "convert.h"
#include "history.h"
#include "rename.h"
#include "replace.h"
#include "report.h"
#include "undo.h"

#include <QList>
#include <QStringList>

#include <functional>
#include <memory>

namespace torvale {

// The words for plans and reports, shared by the window and torvale-cli so
// that both always say the same thing.

enum class Operation { Rename = 1, Convert = 2, Replace = 3, Undo = 4 };

// "文件更名", "TXT→HTML", "查找替换", "撤销上次操作".
QString operation_name(Operation operation);
// The operation as the history names it ("rename", "html", "replace"), and back.
QString operation_key(Operation operation);
Operation operation_of(const QString &key);

// What a plan would do, as a table (the preview) and as lines (--dry-run).
// Rows are made when asked for, as a folder may hold a million files; the
// plan must outlive its table.
struct PlanTable
{
    Operation operation = Operation::Rename;
    QString folder;    // the folder and how many files the table lists
    QString statement; // why the run would be refused, or what it would do when no row says it
    QStringList headers;
    int rowCount = 0;
    std::function<QStringList(int row)> cells;
    std::function<bool(int row)> marked; // a row with a problem
    // The file a row is about, which the person may leave out (empty for
    // the other rows). Files left out by name keep their rows, saying so.
    std::function<QByteArray(int row)> file;
    QString choices; // the choices the plan was made with, and the files they left out

    // A row as one line: its cells joined ("a.txt → p1.txt", "a.txt：替换 1 处").
    QString line(int row) const;
    QStringList separators; // between the cells
    int leadingRows = 0;    // rows that say what happens to a file of ours: joined with "："
};

// The folder a plan works in, with the files it takes: "文件夹：/home/me/照片（29 个文件）",
// or the txt files of a conversion; empty when the folder could not be opened.
QString describe_folder(const RenamePlan &plan);
QString describe_folder(const ReplacePlan &plan);
QString describe_folder(const ConvertPlan &plan);

// The first hits of a search in some of a plan's files (by their index in it).
using FileHits = QHash<qint32, std::vector<Hit>>;

// The choices in a few words: "仅 *.jpg、*.png；不含 desktop.ini；正则表达式；忽略大小写".
QString describe_choices(const NameFilter &filter, SearchOptions options = {});
// The choices a plan was made with, and the files they left out, a line
// each: "选项：仅 *.jpg\n按条件略过 2 个文件：desktop.ini、notes.txt"; empty without choices.
QString describe_choices(const PlanBase &plan, SearchOptions options = {});
inline QString describe_choices(const ReplacePlan &plan)
{
    return describe_choices(plan, plan.options);
}

PlanTable describe_plan(const RenamePlan &plan);
// With hits, a column shows the first hits in each file with the text around them.
PlanTable describe_plan(const ReplacePlan &plan, std::shared_ptr<const FileHits> hits = {});
PlanTable describe_plan(const ConvertPlan &plan);
PlanTable describe_plan(const UndoPlan &plan);

// A run of the history in one line: when, what, in which folder (with
// showFolder), how many files, and whether it can still be taken back (with
// the folder as it is now: whether its files are still as the run left them).
QString describe_run(const HistoryRun &run, const Folder *folder, bool showFolder);

// What a run did.
struct ReportText
{
    QString summary;      // one line: what was done (runs that went to their end)
    QString heading;      // above the problems, when there are any
    QStringList problems; // "name：reason", one per file
};

ReportText describe_report(Operation operation, const Report &report);

} // namespace torvale
