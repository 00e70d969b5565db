#include "output.h"

#include "files/charset.h"
#include "files/console.h"
#include "ops/pages.h"

#include <algorithm>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

#include <unistd.h>

using namespace torvale;

void print(const QString &text)
{
    print_line(stdout, text);
}

void print_error(const QString &text)
{
    print_line(stderr, text);
}

namespace {

// JSON, written by hand: a name is its bytes, and a byte that is not part of
// valid UTF-8 (a GBK name, say) is written as the escape \udcXX (XX its
// value), as Python's "surrogateescape" does, so that every name is exact.
QByteArray json_string(QStringView text)
{
    QByteArray out = "\"";
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '"' || u == '\\')
            out += '\\' + QByteArray(1, char(u));
        else if (u < 0x20 || (u >= 0xDC80 && u <= 0xDCFF))
            out += "\\u" + QByteArray::number(u, 16).rightJustified(4, '0');
        else
            out += QString(c).toUtf8();
    }
    return out + '"';
}

QByteArray json_name(const QByteArray &bytes)
{
    if (is_valid_utf8(bytes))
        return json_string(QString::fromUtf8(bytes));
    QString text; // valid runs as they are, each other byte as U+DC00 + byte
    for (qsizetype i = 0; i < bytes.size();) {
        qsizetype n = 1;
        while (n <= 4 && i + n <= bytes.size() && !is_valid_utf8(bytes.sliced(i, n)))
            ++n;
        if (n <= 4 && i + n <= bytes.size()) {
            text += QString::fromUtf8(bytes.sliced(i, n));
            i += n;
        } else {
            text += QChar(char16_t(0xDC00 + uchar(bytes[i])));
            ++i;
        }
    }
    return json_string(text);
}

// One object of fields given as name and raw JSON value.
void print_json(std::initializer_list<std::pair<const char *, QByteArray>> fields)
{
    QByteArray line = "{";
    for (const auto &[key, value] : fields) {
        if (value.isNull())
            continue;
        if (line.size() > 1)
            line += ',';
        line += '"' + QByteArray(key) + "\":" + value;
    }
    line += "}\n";
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
}

QByteArray json_number(qint64 n)
{
    return QByteArray::number(n);
}

QByteArray json_bool(bool b)
{
    return b ? QByteArray("true") : QByteArray("false");
}

QByteArray json_text(const QString &text)
{
    return text.isEmpty() ? QByteArray() : json_string(text);
}

// The rows every plan begins with: the program's own files and the files of
// an interrupted rename.
void print_leading_json(const PlanBase &plan)
{
    for (const Entry &e : plan.leftovers)
        print_json({{"file", json_name(e.name.bytes)}, {"action", "\"remove\""}});
    for (const KeptFile &k : plan.kept)
        print_json(
            {{"file", json_name(k.entry.name.bytes)}, {"action", "\"keep\""}, {"reason", json_text(k.why)}});
    for (const Recovery &r : plan.recovery)
        print_json({{"old", json_name(r.parked.bytes)},
                    {"new", json_name(r.name.bytes)},
                    {"action", "\"recover\""}});
}

int finish_plan_json(Operation operation, const PlanBase &plan, int files, bool trouble)
{
    print_json({{"summary", "true"},
                {"operation", json_string(operation_key(operation))},
                {"dryRun", "true"},
                {"files", json_number(files)},
                {"filtered", json_number(plan.filteredOut)},
                {"undoable", json_bool(plan.undoable)},
                {"refused", json_text(plan.refusal)}});
    return plan.ok() && !trouble ? Success : Trouble;
}

int print_plan_text(const PlanTable &table, const PlanBase &plan, const OutputStyle &style)
{
    bool trouble = false;
    for (int row = 0; row < table.rowCount; ++row) {
        trouble = trouble || table.marked(row);
        if (!style.quiet || table.marked(row))
            (table.marked(row) && style.quiet ? print_error : print)(table.line(row));
    }
    if (!plan.ok()) {
        print_text(stderr, table.statement);
        return Trouble;
    }
    if (!style.quiet && !table.statement.isEmpty())
        print(table.statement);
    if (!style.quiet && plan.filter.active())
        print(QStringLiteral("按条件略过 %1 个文件（%2）").arg(plan.filteredOut).arg(plan.filter.describe()));
    if (!style.quiet) {
        int skipped = 0;
        for (int row = table.leadingRows; row < table.rowCount; ++row)
            skipped += table.marked(row) ? 1 : 0;
        print(QStringLiteral("预演，没有改动任何文件：将处理 %1 项，跳过 %2 项。%3")
                  .arg(table.rowCount - table.leadingRows - skipped)
                  .arg(skipped)
                  .arg(table.folder));
    }
    return trouble ? Trouble : Success; // as the run would end
}

// What was done to a file, for JSON (an undo restores and removes).
QByteArray action_of(const Change &c, Operation operation)
{
    const bool undo = operation == Operation::Undo;
    switch (c.kind) {
    case Change::Kind::Renamed:
        return "\"rename\"";
    case Change::Kind::Rewritten:
        return undo ? "\"restore\"" : "\"replace\"";
    case Change::Kind::Created:
        break;
    }
    return undo ? "\"remove\"" : "\"create\"";
}

} // namespace

int print_plan(const RenamePlan &plan, const OutputStyle &style)
{
    if (!style.json)
        return print_plan_text(describe_plan(plan), plan, style);
    print_leading_json(plan);
    for (size_t i = 0; i < plan.sources.size(); ++i)
        print_json({{"old", json_name(plan.sources[i].name.bytes)},
                    {"new", json_name(plan.targets[i].bytes)},
                    {"reason", int(i) == plan.problemRow ? json_text(plan.refusal) : QByteArray()}});
    return finish_plan_json(Operation::Rename, plan, int(plan.sources.size()), false);
}

int print_plan(const ReplacePlan &plan, const OutputStyle &style)
{
    if (!style.json)
        return print_plan_text(describe_plan(plan), plan, style);
    print_leading_json(plan);
    for (qint32 i = 0; i < qint32(plan.files.size()); ++i) {
        const QString reason = plan.skipReasons.value(i);
        if (plan.occurrences[size_t(i)] <= 0 && reason.isEmpty())
            continue;
        print_json({{"file", json_name(plan.files[size_t(i)].name.bytes)},
                    {"action", reason.isEmpty() ? QByteArray("\"replace\"") : QByteArray("\"skip\"")},
                    {"hits", reason.isEmpty() ? json_number(plan.occurrences[size_t(i)]) : QByteArray()},
                    {"reason", json_text(reason)}});
    }
    return finish_plan_json(Operation::Replace, plan, int(plan.files.size()), !plan.skipReasons.isEmpty());
}

int print_plan(const ConvertPlan &plan, const OutputStyle &style)
{
    if (!style.json)
        return print_plan_text(describe_plan(plan), plan, style);
    print_leading_json(plan);
    bool trouble = !plan.indexSkipReason.isEmpty();
    for (const ConvertItem &item : plan.items) {
        trouble = trouble || !item.skipReason.isEmpty();
        print_json({{"old", json_name(item.source.name.bytes)},
                    {"new", item.skipReason.isEmpty() ? json_name(item.page.bytes) : QByteArray()},
                    {"action", !item.skipReason.isEmpty() ? QByteArray("\"skip\"")
                               : item.pageStamp.exists()  ? QByteArray("\"replace\"")
                                                          : QByteArray("\"create\"")},
                    {"reason", json_text(item.skipReason)}});
    }
    if (plan.ok())
        print_json({{"new", json_string(kIndexName)},
                    {"action", !plan.indexSkipReason.isEmpty() ? QByteArray("\"skip\"")
                               : plan.index.exists()           ? QByteArray("\"replace\"")
                                                               : QByteArray("\"create\"")},
                    {"reason", json_text(plan.indexSkipReason)}});
    return finish_plan_json(Operation::Convert, plan, int(plan.items.size()), trouble);
}

int print_plan(const UndoPlan &plan, const OutputStyle &style)
{
    if (!style.json)
        return print_plan_text(describe_plan(plan), plan, style);
    print_leading_json(plan);
    for (const UndoStep &step : plan.restore) {
        const Change &c = step.change;
        print_json({{"file", json_name(c.name)},
                    {"action", c.kind == Change::Kind::Renamed     ? QByteArray("\"rename\"")
                               : c.kind == Change::Kind::Rewritten ? QByteArray("\"restore\"")
                                                                   : QByteArray("\"remove\"")},
                    {"new", c.kind == Change::Kind::Renamed ? json_name(c.oldName) : QByteArray()}});
    }
    for (const Problem &p : plan.leftAlone)
        print_json({{"file", json_string(p.name)}, {"action", "\"skip\""}, {"reason", json_text(p.reason)}});
    return finish_plan_json(Operation::Undo, plan, int(plan.run.changes.size()), !plan.leftAlone.isEmpty());
}

int print_report(Operation operation, const Report &report, const OutputStyle &style, int stopSignal)
{
    const int status = stopSignal != 0 ? 128 + stopSignal : report.ok() ? Success : Trouble;
    if (style.json) {
        for (const Change &c : report.changes)
            print_json({{c.kind == Change::Kind::Renamed ? "old" : "file",
                         json_name(c.kind == Change::Kind::Renamed ? c.oldName : c.name)},
                        {"new", c.kind == Change::Kind::Renamed ? json_name(c.name) : QByteArray()},
                        {"action", action_of(c, operation)},
                        {"hits", c.hits > 0 ? json_number(c.hits) : QByteArray()}});
        // A trouble of the whole folder (its flush to disk failed) is no skipped file.
        for (const Problem &p : report.problems)
            print_json({{p.wholeFolder ? "folder" : "file", json_string(p.name)},
                        {"action", p.wholeFolder ? "\"error\"" : "\"skip\""},
                        {"reason", json_text(p.reason)}});
        const auto skipped = std::count_if(report.problems.cbegin(), report.problems.cend(),
                                           [](const Problem &p) { return !p.wholeFolder; });
        const char *state[] = {"done", "refused", "failed", "stopped"};
        print_json(
            {{"summary", "true"},
             {"operation", json_string(operation_key(operation))},
             {"status", '"' + QByteArray(state[int(report.status)]) + '"'},
             {"ok", json_bool(report.ok())},
             {"files", json_number(report.files)},
             {"changed", json_number(report.changed)},
             {"occurrences",
              operation == Operation::Replace ? json_number(report.occurrences) : QByteArray()},
             {"index", operation == Operation::Convert ? json_bool(report.indexWritten) : QByteArray()},
             {"skipped", json_number(skipped)},
             {"filtered", json_number(report.filteredOut)},
             {"message", json_text(report.message)},
             {"notes",
              report.notes.isEmpty() ? QByteArray() : json_string(report.notes.join(QLatin1Char('\n')))}});
        return status;
    }
    const bool ran = report.status == Report::Status::Done || report.status == Report::Status::Stopped;
    const ReportText text = describe_report(operation, report);
    if (style.verbose) {
        for (const Change &c : report.changes) {
            const QString name = FileName::from_bytes(c.name).shown();
            if (c.kind == Change::Kind::Renamed)
                print(FileName::from_bytes(c.oldName).shown() + QStringLiteral(" → ") + name);
            else
                print(c.hits > 0 ? QStringLiteral("%1：替换 %2 处").arg(name).arg(c.hits) : name);
        }
    }
    if (ran && !style.quiet)
        print(text.summary);
    for (const QString &note : report.notes)
        (style.quiet ? print_error : print)(note);
    if (!text.heading.isEmpty())
        print_error(text.heading);
    for (const QString &line : text.problems)
        print_error(line);
    if (report.status != Report::Status::Done)
        print_text(stderr, report.message);
    return status;
}

TerminalProgress::TerminalProgress(bool wanted) : m_on(wanted && ::isatty(STDERR_FILENO))
{
    m_started.start();
}

TerminalProgress::~TerminalProgress()
{
    if (m_shown) {
        std::fputs("\r\033[K", stderr); // erased: the summary follows on a clean line
        std::fflush(stderr);
    }
}

Progress TerminalProgress::progress()
{
    if (!m_on)
        return {};
    return [this](int value, int maximum) { update(value, maximum); };
}

namespace {

QString duration(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 秒").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 分 %2 秒").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 小时 %2 分").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

// The columns a character takes on a terminal: two for the wide ones of
// East Asian scripts and full-width forms, one for the others.
int columns_of(QChar c)
{
    const char16_t u = c.unicode();
    const bool wide = (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0xA4CF) ||
                      (u >= 0xAC00 && u <= 0xD7A3) || (u >= 0xF900 && u <= 0xFAFF) ||
                      (u >= 0xFE30 && u <= 0xFE4F) || (u >= 0xFF00 && u <= 0xFF60) ||
                      (u >= 0xFFE0 && u <= 0xFFE6);
    return wide ? 2 : 1;
}

// The line cut to fit one row of the terminal, short of its last column (a
// character there would wrap, and the erasing of the row leave the rest).
QString fitted(const QString &line)
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
        return line;
    int used = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        used += columns_of(line[i]);
        if (used > size.ws_col - 1)
            return line.left(i);
    }
    return line;
}

} // namespace

void TerminalProgress::update(int value, int maximum)
{
    const qint64 now = m_started.elapsed();
    if (now < 1000 || now - m_lastDrawn < 100)
        return; // a short run shows nothing; a long one at most ten times a second
    m_lastDrawn = now;
    const int total = maximum - 1; // the maximum counts one more than the files
    QString line =
        QStringLiteral("已处理 %1/%2 个文件，用时 %3").arg(value).arg(total).arg(duration(now / 1000));
    if (value > 0 && value < total)
        line += QStringLiteral("，还需约 %1").arg(duration(now * (total - value) / value / 1000 + 1));
    const QByteArray bytes = "\r\033[K" + locale_bytes(fitted(line));
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
    m_shown = true;
}
