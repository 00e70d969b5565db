#include "convert.h"

#include "pages.h"

#include "files/linefile.h"
#include "files/textbuffer.h"

#include <QHash>

namespace torvale {

FileName page_name_of(const FileName &source)
{
    const QByteArrayView stem = QByteArrayView(source.bytes).chopped(source.bytes.size() > 3 ? 4 : 0);
    const QByteArray lowered = lower_case_bytes(stem, source.coding);
    return {lowered + ".htm", FileName::text_of(lowered, source.coding) + QLatin1String(".htm"),
            source.coding};
}

namespace {

// Why a page may not be written where a file stands: a folder, link or
// device is never replaced, nor a file that nobody (or not this run) may write.
QString blocked_reason(const Folder &folder, const QByteArray &name, const Stamp &stamp)
{
    if (!stamp.exists())
        return {};
    if (!stamp.is_regular())
        return QStringLiteral("被文件夹、链接或其他特殊文件占用");
    return folder.check_replaceable(name, stamp);
}

// Writes a page; with a backup folder, first keeps a copy of the file it
// replaces, and notes the change for undo.
bool write_page(const ConvertPlan &plan, const FileName &page, const Stamp &replaces,
                const TextBuffer &buffer, Report &report, QString *error)
{
    const Folder &folder = *plan.folder;
    QByteArray backup;
    if (plan.backups && replaces.exists()) {
        QByteArray former;
        backup = QByteArray::number(report.changes.size());
        if (!read_file(folder, page.bytes, &replaces, &former, error) ||
            !save_file(*plan.backups, backup, nullptr, former, error, false)) {
            *error = QStringLiteral("无法保存撤销所需的副本（%1），未写入").arg(*error);
            return false;
        }
    }
    if (!write_buffer(folder, page.bytes, replaces.exists() ? &replaces : nullptr, buffer, error)) {
        *error = QStringLiteral("写入失败（%1）").arg(*error);
        return false;
    }
    if (plan.backups) {
        report.changes.append({backup.isEmpty() ? Change::Kind::Created : Change::Kind::Rewritten,
                               page.bytes,
                               {},
                               backup,
                               folder.stamp(page.bytes)});
    }
    return true;
}

} // namespace

ConvertPlan plan_convert(const ConvertParams &params, bool examineContents)
{
    ConvertPlan plan;
    plan.title = params.title;
    Listing listing;
    if (!open_for_plan(params.dir, plan, listing))
        return plan;
    if (!params.backupDir.isEmpty()) {
        plan.backups = Folder::open(params.backupDir, &plan.refusal, false);
        if (!plan.backups)
            return plan;
    }
    QHash<QByteArray, Stamp> stamps; // every entry by name
    for (const std::vector<Entry> *entries : {&listing.plain, &listing.others}) {
        for (const Entry &e : *entries)
            stamps.insert(e.name.bytes, e.stamp);
    }
    QHash<QByteArray, QString> pageSources; // page name -> the text file it is made from
    for (const Entry &entry : listing.plain) {
        if (extension_bytes(entry.name) != "txt")
            continue;
        ConvertItem item{entry, page_name_of(entry.name), stamps.value(page_name_of(entry.name).bytes), {}};
        if (item.page.bytes == kIndexName.toLatin1()) {
            item.skipReason = QStringLiteral("它的网页会与索引文件“index.htm”同名，未转换");
        } else if (const auto other = pageSources.constFind(item.page.bytes);
                   other != pageSources.constEnd()) {
            item.skipReason =
                QStringLiteral("它的网页“%1”与“%2”的网页同名，未转换").arg(item.page.shown(), *other);
        } else if (const QString blocked = blocked_reason(*plan.folder, item.page.bytes, item.pageStamp);
                   !blocked.isEmpty()) {
            item.skipReason = QStringLiteral("网页“%1”：%2，未转换").arg(item.page.shown(), blocked);
        } else {
            pageSources.insert(item.page.bytes, entry.name.shown());
            QByteArray bytes;
            Charset charset;
            if (examineContents)
                read_text_file(*plan.folder, entry.name.bytes, &entry.stamp, &bytes, &charset,
                               &item.skipReason);
        }
        plan.items.push_back(std::move(item));
    }
    plan.index = stamps.value(kIndexName.toLatin1());
    if (const QString blocked = blocked_reason(*plan.folder, kIndexName.toLatin1(), plan.index);
        !blocked.isEmpty())
        plan.indexSkipReason = QStringLiteral("索引文件：%1，未写入").arg(blocked);
    return plan;
}

Report apply_convert(const ConvertPlan &plan, const Progress &progress)
{
    Report report;
    const int FileCount = int(plan.items.size());
    report.files = FileCount;
    const std::optional<FolderLock> lock = begin_apply(plan, report);
    if (!lock)
        return report;
    const Folder &folder = *plan.folder;
    if (progress)
        progress(0, FileCount + 1);

    TextBuffer buffer;
    QList<IndexEntry> written;
    for (int Counter = 1; Counter <= FileCount; ++Counter) {
        const ConvertItem &item = plan.items[size_t(Counter - 1)];
        QString error;
        if (!item.skipReason.isEmpty()) {
            report.problems.append({item.source.name.shown(), item.skipReason});
        } else {
            buffer.buffer_clear();
            bool first = true;
            QString title;
            const bool read = for_each_line(
                folder, item.source.name.bytes, &item.source.stamp,
                [&](const QString &line) {
                    const QString WorkText = escape_angles(line);
                    if (first) {
                        first = false;
                        title = WorkText;
                        append_page_head(buffer, title);
                    } else {
                        append_page_line(buffer, WorkText);
                    }
                },
                &error);
            if (!read) {
                report.problems.append({item.source.name.shown(), error});
            } else {
                if (first) // a file without any line: the head with an empty title
                    append_page_head(buffer, title);
                append_page_end(buffer);
                if (write_page(plan, item.page, item.pageStamp, buffer, report, &error)) {
                    written.append({item.page, title});
                    ++report.changed;
                } else {
                    report.problems.append({item.page.shown(), error});
                }
            }
            buffer.buffer_clear();
        }
        if (progress)
            progress(Counter, FileCount + 1);
    }

    QString error;
    if (!plan.indexSkipReason.isEmpty()) {
        report.problems.append({kIndexName, plan.indexSkipReason});
    } else {
        append_index(buffer, plan.title, written);
        report.indexWritten =
            write_page(plan, FileName::from_bytes(kIndexName.toLatin1()), plan.index, buffer, report, &error);
        if (!report.indexWritten)
            report.problems.append({kIndexName, error});
    }
    if (!folder.sync(&error))
        report.problems.append({folder.path(), QStringLiteral("无法把改动写入磁盘：%1").arg(error)});
    return report;
}

} // namespace torvale
