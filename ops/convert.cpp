#include "convert.h"

#include "pages.h"

#include "testhook.h"

#include "files/filesystem.h"
#include "files/linefile.h"
#include "files/listing.h"
#include "files/textbuffer.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace torvale {

QString page_name_of(const QString &source)
{
    const QString stem = source.size() > 3 ? source.left(source.size() - 4) : source;
    return stem.toLower() + QLatin1String(".htm");
}

namespace {

// True when a page may be written at this path: nothing is there, or a
// regular file that the page replaces (never a folder or a link).
bool is_free_for_page(const QFileInfo &info)
{
    return !info.isSymLink() && (!info.exists() || info.isFile());
}

// Writes a page; with a backup folder, first keeps a copy of the file it
// replaces, and notes the change for undo.
bool write_page(const QDir &dir, const QString &name, const TextBuffer &buffer, const QString &backupDir,
                Report &report, QString *error)
{
    const QString path = dir.filePath(name);
    QString backup;
    if (!backupDir.isEmpty() && QFileInfo::exists(path)) {
        QByteArray former;
        backup = QDir(backupDir).filePath(QString::number(report.changes.size()));
        if (!read_file(path, &former, error) || !save_file(backup, former, error)) {
            *error = QStringLiteral("无法保存撤销所需的副本（%1），未写入").arg(*error);
            return false;
        }
    }
    if (!write_buffer(path, buffer, error))
        return false;
    if (!backupDir.isEmpty()) {
        report.changes.append({backup.isEmpty() ? Change::Kind::Created : Change::Kind::Rewritten, name, {}, backup,
                               fingerprint_of(path)});
    }
    return true;
}

} // namespace

ConvertPlan plan_convert(const ConvertParams &params, bool examineSources)
{
    ConvertPlan plan;
    const Listing listing = list_working_files(params.dir);
    if (!listing.ok) {
        plan.refusal = listing.error;
        return plan;
    }
    const QDir dir(params.dir);
    QHash<QString, QString> pageSources; // page name -> the text file it is made from
    for (const QString &CurrentName : listing.names) {
        if (extension_of(CurrentName) != QLatin1String("txt"))
            continue;
        ConvertItem item;
        item.source = CurrentName;
        item.page = page_name_of(CurrentName);
        const QFileInfo pageInfo(dir.filePath(item.page));
        if (item.page == kIndexName) {
            item.skipReason = QStringLiteral("它的网页会与索引文件“index.htm”同名，未转换");
        } else if (const auto other = pageSources.constFind(item.page); other != pageSources.constEnd()) {
            item.skipReason = QStringLiteral("它的网页“%1”与“%2”的网页同名，未转换").arg(item.page, *other);
        } else if (!is_free_for_page(pageInfo)) {
            item.skipReason = QStringLiteral("网页的位置“%1”被文件夹或链接占用，未转换").arg(item.page);
        } else {
            item.replacesExisting = pageInfo.exists();
            pageSources.insert(item.page, CurrentName);
            QByteArray bytes;
            Charset charset;
            if (examineSources)
                read_text_file(dir.filePath(CurrentName), &bytes, &charset, &item.skipReason);
        }
        plan.items.append(item);
    }
    plan.indexExists = QFileInfo::exists(dir.filePath(kIndexName));
    return plan;
}

Report run_convert(const ConvertParams &params, const Progress &progress)
{
    Report report;
    const ConvertPlan plan = plan_convert(params);
    if (!plan.refusal.isEmpty()) {
        report.status = Report::Status::Refused;
        report.message = plan.refusal;
        return report;
    }
    after_planning(params.dir);
    const QDir dir(params.dir);
    const int FileCount = int(plan.items.size());
    report.files = FileCount;
    if (progress)
        progress(0, FileCount + 1);

    TextBuffer buffer;
    QList<IndexEntry> written;
    for (int Counter = 1; Counter <= FileCount; ++Counter) {
        const ConvertItem &item = plan.items[Counter - 1];
        if (!item.skipReason.isEmpty()) {
            report.problems.append({item.source, item.skipReason});
        } else {
            buffer.buffer_clear();
            bool first = true;
            QString title;
            QString error;
            const bool read = for_each_line(
                dir.filePath(item.source),
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
                report.problems.append({item.source, error});
            } else {
                if (first) // a file without any line: the head with an empty title
                    append_page_head(buffer, title);
                append_page_end(buffer);
                if (write_page(dir, item.page, buffer, params.backupDir, report, &error)) {
                    written.append({item.page, title});
                    ++report.changed;
                } else {
                    report.problems.append({item.page, error});
                }
            }
            buffer.buffer_clear();
        }
        if (progress)
            progress(Counter, FileCount + 1);
    }

    const QFileInfo indexInfo(dir.filePath(kIndexName));
    QString error;
    if (!is_free_for_page(indexInfo)) {
        report.problems.append({kIndexName, QStringLiteral("索引文件的位置被文件夹或链接占用，未写入")});
    } else {
        append_index(buffer, params.title, written);
        if (!write_page(dir, kIndexName, buffer, params.backupDir, report, &error))
            report.problems.append({kIndexName, error});
    }
    return report;
}

} // namespace torvale
