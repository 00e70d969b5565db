#include "rename.h"

#include "nameindex.h"
#include "number.h"

#include "history.h"

#include "files/charset.h"
#include "files/filewriter.h"

#include <QHash>
#include <QSet>
#include <QStringEncoder>

#include <numeric>

#include <cmath>

namespace torvale {

namespace {

// The longest name in bytes that the file systems we run on allow.
constexpr int kMaxNameBytes = 255;

// A character that may not stand in a file name, or that would put the file
// into another directory.
bool is_forbidden_in_name(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20;
}

// The new name: prefix, number and the old name's extension, which keeps its
// bytes (letters lower-cased) whatever coding the old name has.
FileName new_name(const QByteArray &prefixAndNumber, const QString &shown, const FileName &old)
{
    const QByteArray extension = extension_bytes(old);
    QByteArray bytes; // of its exact size: a folder may hold a million names
    bytes.reserve(prefixAndNumber.size() + 1 + extension.size());
    bytes.append(prefixAndNumber).append('.').append(extension);
    return FileName(bytes, shown + QLatin1Char('.') + FileName::text_of(extension, old.coding),
                    FileName::coding_of(bytes));
}

} // namespace

QString width_message()
{
    return QStringLiteral("整合数小于序数的位数，请返回选择一个较大的整合数！");
}

RenamePlan plan_rename(const RenameParams &params)
{
    RenamePlan plan;
    plan.keepChanges = params.keepChanges;
    plan.listChanges = params.listChanges;
    Listing listing;
    if (!open_for_plan(params.dir, plan, listing, params.filter))
        return plan;
    plan_record(plan, params.history, params.requireUndo, 0); // a rename keeps no bytes
    plan.parameters << QStringLiteral("文件名前缀：%1").arg(trim_spaces(params.prefix))
                    << QStringLiteral("起始序数：%1").arg(trim_spaces(params.start));
    if (params.width > 0)
        plan.parameters << QStringLiteral("序数整合：%1 位").arg(params.width);
    const QString prefix = trim_spaces(params.prefix);
    // The prefix's bytes in names: UTF-8, or the character set of the user's
    // locale, so that the names read right where the user looks at them.
    QByteArray prefixBytes = prefix.toUtf8();
    if (!params.nameCharset.isEmpty()) {
        QStringEncoder encoder(params.nameCharset.constData(), QStringEncoder::Flag::Stateless);
        prefixBytes = encoder.isValid() ? QByteArray(encoder.encode(prefix)) : prefixBytes;
        if (encoder.hasError()) {
            plan.refusal =
                QStringLiteral("文件名前缀“%1”中有当前区域设置的字符集（%2）无法表示的字符，没有文件被更名。")
                    .arg(prefix, QString::fromLatin1(params.nameCharset));
            return plan;
        }
    }
    if (std::any_of(prefix.begin(), prefix.end(), is_forbidden_in_name)) {
        plan.refusal =
            QStringLiteral(
                "文件名前缀“%1”中含有文件名不能使用的字符（如“/”或“\\”），没有文件被更名。请修改前缀！")
                .arg(prefix);
        return plan;
    }
    if (prefix.startsWith(QLatin1Char('.'))) {
        plan.refusal =
            QStringLiteral("文件名前缀不能以“.”开头，否则更名后的文件会成为隐藏文件。没有文件被更名。");
        return plan;
    }
    double number = parse_start_number(params.start);
    if (!std::isfinite(number)) {
        plan.refusal = QStringLiteral("起始序数“%1”太大，没有文件被更名。").arg(trim_spaces(params.start));
        return plan;
    }
    // Everything else in the directory: hidden files, folders, links. A new
    // name may not take the place of any of them.
    QSet<QByteArray> others;
    QSet<QString> othersFolded;
    for (const Entry &e : listing.others) {
        others.insert(e.name.bytes);
        othersFolded.insert(e.name.text().toCaseFolded());
    }
    auto refuse = [&plan](qsizetype row, const QString &why) {
        if (plan.refusal.isEmpty()) {
            plan.refusal = why;
            plan.problemRow = int(row);
        }
    };
    plan.sources = std::move(listing.plain);
    plan.targets.reserve(plan.sources.size());
    for (const Entry &entry : plan.sources) {
        const qsizetype row = qsizetype(plan.targets.size());
        const QString written = number_text(number);
        number = number + 1;
        const qsizetype zeros = params.width > written.size() ? params.width - written.size() : 0;
        if (params.width > 0 && written.size() > params.width)
            refuse(row, width_message());
        const QString digits = QString(zeros, QLatin1Char('0')) + written;
        plan.targets.push_back(new_name(prefixBytes + digits.toLatin1(), prefix + digits, entry.name));
        const FileName &target = plan.targets.back();
        if (target.bytes.size() > kMaxNameBytes) {
            refuse(row, QStringLiteral("新文件名“%1”太长，超出了文件系统允许的长度，没有文件被更名。")
                            .arg(target.shown()));
        } else if (others.contains(target.bytes) ||
                   (othersFolded.contains(target.text().toCaseFolded()) &&
                    plan.folder->stamp(target.bytes).exists() &&
                    std::none_of(plan.sources.begin(), plan.sources.end(),
                                 [&](const Entry &e) { return e.name == target; }))) {
            // The second test catches file systems that ignore letter case.
            const bool leftOut =
                std::any_of(plan.leftOut.begin(), plan.leftOut.end(), [&](const FileName &n) {
                    return n.text().toCaseFolded() == target.text().toCaseFolded();
                });
            refuse(row, leftOut
                            ? QStringLiteral("新文件名“%1”已被按条件不处理的同名文件占用，没有文件被更名。")
                                  .arg(target.shown())
                            : QStringLiteral("新文件名“%1”已被文件夹中不参与更名的同名项目（隐藏文件、"
                                             "文件夹或链接）占用，没有文件被更名。")
                                  .arg(target.shown()));
        }
    }
    // Two files with one new name: the first file whose new name was taken.
    NameIndex taken(qint32(plan.targets.size()),
                    [&](qint32 row) -> const QByteArray & { return plan.targets[size_t(row)].bytes; });
    for (qint32 row = 0; row < qint32(plan.targets.size()); ++row) {
        const qint32 clash = taken.insert(row);
        if (clash < 0)
            continue;
        if (plan.problemRow < 0 || row < plan.problemRow) {
            plan.refusal.clear();
            refuse(row, QStringLiteral("文件“%1”和“%2”会得到同一个新文件名“%3”，没有文件被更名。")
                            .arg(plan.sources[size_t(clash)].name.shown(),
                                 plan.sources[size_t(row)].name.shown(), plan.targets[size_t(row)].shown()));
        }
        break;
    }
    return plan;
}

Report apply_rename(const RenamePlan &plan, const Progress &progress, const StopRequest *stop)
{
    Report report;
    report.files = int(plan.sources.size());
    const std::optional<FolderLock> lock = begin_apply(plan, report);
    if (!lock)
        return report;
    const Folder &folder = *plan.folder;
    // Every rename is in the history before the first is made.
    std::unique_ptr<RunRecorder> recorder;
    if (!start_record(plan, QStringLiteral("rename"), plan.parameters, &recorder, report))
        return report;
    QString error;
    if (recorder) {
        bool recorded = true;
        for (size_t i = 0; i < plan.sources.size() && recorded; ++i) {
            if (plan.sources[i].name != plan.targets[i])
                recorder->add({Change::Kind::Renamed,
                               plan.targets[i].bytes,
                               plan.sources[i].name.bytes,
                               {},
                               plan.sources[i].stamp});
            // Written out as they come: a million names take no more memory than their plan.
            if (i % 65536 == 65535)
                recorded = recorder->commit(&error);
        }
        if (!recorded || !recorder->commit(&error)) {
            recorder->finish(0);
            if (plan.requireUndo) {
                report.status = Report::Status::Refused;
                report.message = QStringLiteral("%1。没有文件被更名。").arg(error);
                return report;
            }
            report.notes << QStringLiteral("此次操作将无法撤销：%1").arg(error);
            recorder.reset();
        }
    }
    const int maximum = report.files + 1;
    if (progress)
        progress(0, maximum);
    int done = 0;
    execute_moves(
        folder, plan.sources, plan.targets, report,
        [&] {
            if (progress)
                progress(++done, maximum);
        },
        stop);
    if (recorder)
        recorder->finish(report.changed);
    if (report.status == Report::Status::Done && (plan.keepChanges || plan.listChanges)) {
        // A rename changes neither a file's content nor its time: its stamp
        // after the run is the one it was planned with (and checked against).
        for (size_t i = 0; i < plan.sources.size(); ++i) {
            const QByteArray &from = plan.sources[i].name.bytes, &to = plan.targets[i].bytes;
            if (from != to)
                report.changes.append({Change::Kind::Renamed, to, from, {}, plan.sources[i].stamp});
        }
    }
    return report;
}

} // namespace torvale
