#include "rename.h"

#include "journal.h"
#include "nameindex.h"
#include "number.h"

#include "files/charset.h"

#include <QHash>
#include <QSet>
#include <QStringEncoder>

#include <numeric>

#include <cmath>

namespace torvale {

namespace {

// The longest name in bytes that the file systems we run on allow.
constexpr int kMaxNameBytes = 255;
// A journal longer than this is not one of ours.
constexpr qint64 kMaxJournalBytes = 64 << 20;

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

// Plans the recovery of a rename that was killed part-way, from its journal:
// each file still waiting under a temporary name gets its old name back, or
// its new one where the old is taken, and joins the plain files of the
// listing under that name. Refuses the plan when the journal is not one the
// program could have written, or a file cannot be placed.
void plan_recovery(RenamePlan &plan, Listing &listing)
{
    const auto journal = std::find_if(listing.others.cbegin(), listing.others.cend(),
                                      [](const Entry &e) { return e.name.bytes == kJournalName; });
    if (journal == listing.others.cend())
        return;
    auto refuse = [&](const QString &why) {
        plan.refusal =
            QStringLiteral(
                "文件夹中的更名记录“%1”%2。没有文件被更名。如果它不是本程序留下的，可以删除这个文件后再试。")
                .arg(QString::fromLatin1(kJournalName), why);
    };
    QByteArray text;
    QString error;
    if (!journal->stamp.is_regular())
        return refuse(QStringLiteral("不是普通文件"));
    if (journal->stamp.size > kMaxJournalBytes)
        return refuse(QStringLiteral("太大"));
    QList<Parking> parked;
    if (!read_file(*plan.folder, kJournalName, &journal->stamp, &text, &error))
        return refuse(QStringLiteral("无法读取（%1）").arg(error));
    if (!parse_journal(text, &parked, &error))
        return refuse(QStringLiteral("无效：%1").arg(error));

    QSet<QByteArray> taken;
    for (const std::vector<Entry> *entries : {&listing.plain, &listing.others}) {
        for (const Entry &e : *entries)
            taken.insert(e.name.bytes);
    }
    const qsizetype plainBefore = qsizetype(listing.plain.size());
    for (const Parking &p : parked) {
        const Stamp stamp = plan.folder->stamp(p.temporary);
        if (!stamp.exists())
            continue; // it has its place already
        if (!stamp.is_regular())
            return refuse(
                QStringLiteral("列出的临时文件“%1”不是普通文件").arg(QString::fromLatin1(p.temporary)));
        const QByteArray &name = !taken.contains(p.from) ? p.from : p.to;
        if (taken.contains(name)) {
            plan.refusal =
                QStringLiteral(
                    "上次被中断的更名留下的文件“%1”无法恢复：原名“%2”和新名“%3”都已被占用。没有文件被更名。")
                    .arg(QString::fromLatin1(p.temporary), FileName::from_bytes(p.from).shown(),
                         FileName::from_bytes(p.to).shown());
            return;
        }
        taken.insert(name);
        plan.recovery.push_back({FileName::from_bytes(p.temporary), FileName::from_bytes(name), stamp});
        listing.plain.push_back({FileName::from_bytes(name), stamp});
    }
    plan.journal = journal->stamp;
    if (qsizetype(listing.plain.size()) != plainBefore) {
        std::sort(listing.plain.begin(), listing.plain.end(),
                  [](const Entry &a, const Entry &b) { return natural_less(a.name, b.name); });
    }
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
    Listing listing;
    if (!open_for_plan(params.dir, plan, listing))
        return plan;
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
    plan_recovery(plan, listing);
    if (!plan.ok())
        return plan;

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
            refuse(row,
                   QStringLiteral("新文件名“%1”已被文件夹中不参与更名的同名项目（隐藏文件、文件夹或链接）"
                                  "占用，没有文件被更名。")
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

Report apply_rename(const RenamePlan &plan, const Progress &progress)
{
    Report report;
    report.files = int(plan.sources.size());
    const std::optional<FolderLock> lock = begin_apply(plan, report);
    if (!lock)
        return report;
    const Folder &folder = *plan.folder;
    QString error;
    for (const Recovery &r : plan.recovery) {
        if (!folder.stamp(r.parked.bytes).same_file(r.stamp))
            error = QStringLiteral("它在计划之后已被改动");
        else
            folder.rename(r.parked.bytes, r.name.bytes, &error);
        if (!error.isEmpty()) {
            report.status = Report::Status::Failed;
            report.message =
                QStringLiteral("上次被中断的更名留下的文件“%1”无法恢复为“%2”：%3。没有文件被更名。")
                    .arg(r.parked.shown(), r.name.shown(), error);
            return report;
        }
    }
    if (plan.journal.exists() &&
        !(folder.sync(&error) && folder.remove(kJournalName, plan.journal, &error))) {
        report.status = Report::Status::Failed;
        report.message = QStringLiteral("无法删除上次被中断的更名留下的记录“%1”（%2）。没有文件被更名。")
                             .arg(QString::fromLatin1(kJournalName), error);
        return report;
    }
    if (!plan.recovery.empty())
        report.notes << QStringLiteral("上次被中断的更名留下的 %1 个文件已恢复为正常的文件名。")
                            .arg(plan.recovery.size());

    const int maximum = report.files + 1;
    if (progress)
        progress(0, maximum);
    int done = 0;
    execute_moves(folder, plan.sources, plan.targets, report, [&] {
        if (progress)
            progress(++done, maximum);
    });
    if (report.status == Report::Status::Done && plan.keepChanges) {
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
