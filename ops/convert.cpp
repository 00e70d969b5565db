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
    return FileName(lowered + ".htm", FileName::text_of(lowered, source.coding) + QLatin1String(".htm"),
                    source.coding);
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

// A page being written: with a backup folder, a copy of the file it replaces
// is kept first (for undo); its text goes out a part at a time as it is made.
class PageOutput
{
public:
    PageOutput(const ConvertPlan &plan, const FileName &page, const Stamp &replaces)
        : m_plan(plan), m_page(page), m_replaces(replaces)
    {
    }

    bool start(Report &report)
    {
        if (m_plan.backups && m_replaces.exists()) {
            m_backup = QByteArray::number(report.changes.size());
            if (!copy_file(*m_plan.folder, m_page.bytes, &m_replaces, *m_plan.backups, m_backup, &m_error)) {
                m_error = QStringLiteral("无法保存撤销所需的副本（%1），未写入").arg(m_error);
                return false;
            }
        }
        return m_writer.begin(*m_plan.folder, m_page.bytes, m_replaces.exists() ? &m_replaces : nullptr,
                              &m_error);
    }
    // Writes out what the buffer holds once it is large.
    void written_so_far(TextBuffer &buffer)
    {
        constexpr qsizetype kPart = 1 << 18;
        if (m_error.isEmpty() && buffer.buffer_text().size() > kPart)
            m_writer.drain(buffer, &m_error);
    }
    bool finish(TextBuffer &buffer, Report &report)
    {
        if (!m_error.isEmpty() || !m_writer.finish(buffer, &m_error)) {
            if (!m_error.startsWith(QStringLiteral("无法保存")))
                m_error = QStringLiteral("写入失败（%1）").arg(m_error);
            return false;
        }
        if (m_plan.backups) {
            report.changes.append({m_backup.isEmpty() ? Change::Kind::Created : Change::Kind::Rewritten,
                                   m_page.bytes,
                                   {},
                                   m_backup,
                                   m_plan.folder->stamp(m_page.bytes)});
        }
        return true;
    }
    const QString &error() const { return m_error; }

private:
    const ConvertPlan &m_plan;
    const FileName &m_page;
    const Stamp &m_replaces;
    QByteArray m_backup;
    BufferWriter m_writer;
    QString m_error;
};

} // namespace

ConvertPlan plan_convert(const ConvertParams &params, bool examineContents, const Progress &progress)
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
    QHash<QByteArray, QString> pageSources; // page name -> the text file it is made from
    for (const Entry &entry : listing.plain) {
        if (extension_bytes(entry.name) != "txt")
            continue;
        const FileName page = page_name_of(entry.name);
        ConvertItem item{entry, page, plan.folder->stamp(page.bytes), {}};
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
            FileReader reader;
            Charset charset;
            if (examineContents &&
                reader.open(*plan.folder, entry.name.bytes, &entry.stamp, &item.skipReason))
                scan_text_file(reader, &charset, &item.skipReason);
        }
        plan.items.push_back(std::move(item));
    }
    plan.index = plan.folder->stamp(kIndexName.toLatin1());
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
        PageOutput page(plan, item.page, item.pageStamp);
        if (!item.skipReason.isEmpty()) {
            report.problems.append({item.source.name.shown(), item.skipReason});
        } else if (!page.start(report)) {
            report.problems.append({item.page.shown(), page.error()});
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
                    page.written_so_far(buffer);
                },
                &error);
            if (!read) {
                report.problems.append({item.source.name.shown(), error});
            } else {
                if (first) // a file without any line: the head with an empty title
                    append_page_head(buffer, title);
                append_page_end(buffer);
                if (page.finish(buffer, report)) {
                    written.append({item.page, title});
                    ++report.changed;
                } else {
                    report.problems.append({item.page.shown(), page.error()});
                }
            }
            buffer.buffer_clear();
        }
        if (progress)
            progress(Counter, FileCount + 1);
    }

    QString error;
    const FileName index = FileName::from_bytes(kIndexName.toLatin1());
    PageOutput indexPage(plan, index, plan.index);
    if (!plan.indexSkipReason.isEmpty()) {
        report.problems.append({kIndexName, plan.indexSkipReason});
    } else {
        append_index(buffer, plan.title, written);
        report.indexWritten = indexPage.start(report) && indexPage.finish(buffer, report);
        if (!report.indexWritten)
            report.problems.append({kIndexName, indexPage.error()});
    }
    if (!folder.sync(&error))
        report.problems.append({folder.path(), QStringLiteral("无法把改动写入磁盘：%1").arg(error)});
    return report;
}

} // namespace torvale
