#include "convert.h"

#include "history.h"
#include "pages.h"
#include "parallel.h"

#include "files/linefile.h"
#include "files/textbuffer.h"

#include <QHash>

#include <memory>
#include <new>

namespace torvale {

FileName page_name_of(const FileName &source)
{
    const QByteArrayView stem = QByteArrayView(source.bytes).chopped(source.bytes.size() > 3 ? 4 : 0);
    const QByteArray lowered = lower_case_bytes(stem, source.coding);
    return FileName(lowered + ".htm", FileName::text_of(lowered, source.coding) + QLatin1String(".htm"),
                    source.coding);
}

namespace {

// The longest name in bytes that the file systems we run on allow.
constexpr qsizetype kMaxNameBytes = 255;

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
    // like: the text whose permissions a new page takes. With a recorder,
    // the file a page replaces is kept in the history first.
    PageOutput(const ConvertPlan &plan, const FileName &page, const Stamp &replaces, RunRecorder *recorder,
               const Entry *like = nullptr)
        : m_plan(plan), m_page(page), m_replaces(replaces), m_recorder(recorder), m_like(like)
    {
    }

    bool start()
    {
        if (m_recorder && m_recorder->keeping() && m_replaces.exists()) {
            FileReader former;
            if (!former.open(*m_plan.folder, m_page.bytes, &m_replaces, &m_error) ||
                !m_recorder->keep(former, &m_kept, &m_error)) {
                m_error = QStringLiteral("%1，未写入").arg(m_error);
                m_errorWorded = true;
                return false;
            }
        }
        return m_writer.begin(*m_plan.folder, m_page.bytes, m_replaces.exists() ? &m_replaces : nullptr,
                              &m_error, m_like);
    }
    // Writes out what the buffer holds once it is large.
    void written_so_far(TextBuffer &buffer)
    {
        constexpr qsizetype kPart = 1 << 18;
        if (m_error.isEmpty() && buffer.buffer_text().size() > kPart)
            m_writer.drain(buffer, &m_error);
    }
    // The page complete; durable, or made so with its batch before publish.
    bool close(TextBuffer &buffer, bool durable)
    {
        return m_error.isEmpty() && m_writer.close(buffer, &m_error, durable);
    }
    bool publish() { return m_writer.publish(&m_error); }
    const BufferWriter &writer() const { return m_writer; }
    const QString &leftover() const { return m_writer.leftover(); }
    // The change the page makes, once it is complete.
    Change change() const
    {
        return {m_replaces.exists() ? Change::Kind::Rewritten : Change::Kind::Created,
                m_page.bytes,
                {},
                m_kept,
                m_writer.new_stamp(),
                m_replaces};
    }
    QString error() const { return m_errorWorded ? m_error : QStringLiteral("写入失败（%1）").arg(m_error); }

private:
    const ConvertPlan &m_plan;
    const FileName m_page;
    const Stamp m_replaces;
    RunRecorder *m_recorder;
    const Entry *m_like;
    QByteArray m_kept;
    BufferWriter m_writer;
    QString m_error;
    bool m_errorWorded = false; // m_error is a whole reason, not the cause of a failed write
};

// Makes the page of one text file, complete but not yet in place.
struct PageDone
{
    std::unique_ptr<PageOutput> output;
    QString title;
    QString problemName, problem; // when it could not be made
    QString leftover;             // what a failed publish left in the folder
    bool handled = false;         // false when a stop came first
};

PageDone make_page(const ConvertPlan &plan, const ConvertItem &item, RunRecorder *recorder)
{
    PageDone done;
    if (!item.skipReason.isEmpty()) {
        done.problemName = item.source.name.shown();
        done.problem = item.skipReason;
        return done;
    }
    // A page is as private as its text: a diary.txt only its owner may
    // read does not become a diary.htm that everybody may.
    done.output = std::make_unique<PageOutput>(plan, item.page, item.pageStamp, recorder, &item.source);
    TextBuffer buffer;
    bool first = true;
    QString error;
    const bool read = done.output->start() && for_each_line(
                                                  *plan.folder, item.source.name.bytes, &item.source.stamp,
                                                  [&](const QString &line) {
                                                      const QString escaped = escape_angles(line);
                                                      if (first) {
                                                          first = false;
                                                          done.title = escaped;
                                                          append_page_head(buffer, done.title);
                                                      } else {
                                                          append_page_line(buffer, escaped);
                                                      }
                                                      done.output->written_so_far(buffer);
                                                  },
                                                  &error);
    if (!read && !error.isEmpty()) {
        done.problemName = item.source.name.shown();
        done.problem = error;
    } else {
        if (first) // a file without any line: the head with an empty title
            append_page_head(buffer, done.title);
        append_page_end(buffer);
        if (read && done.output->close(buffer, false))
            return done;
        done.problemName = item.page.shown();
        done.problem = done.output->error();
    }
    done.output.reset();
    return done;
}

} // namespace

ConvertPlan plan_convert(const ConvertParams &params, bool examineContents, const Progress &progress,
                         const StopRequest *stop)
{
    ConvertPlan plan;
    plan.title = params.title;
    plan.listChanges = params.listChanges;
    Listing listing;
    if (!open_for_plan(params.dir, plan, listing, params.filter))
        return plan;
    plan.parameters << QStringLiteral("索引文件标题：%1").arg(params.title);
    if (plan.filter.active())
        plan.parameters << QStringLiteral("文件：%1").arg(plan.filter.describe());
    QHash<QByteArray, QString> pageSources; // page name -> the text file it is made from
    const int count = int(listing.plain.size());
    for (int i = 0; i < count; ++i) {
        const Entry &entry = listing.plain[size_t(i)];
        if (planning_stopped(plan, stop))
            return plan;
        if (progress && examineContents)
            progress(i, count + 1);
        if (extension_bytes(entry.name) != "txt")
            continue;
        const FileName page = page_name_of(entry.name);
        ConvertItem item{entry, page, {}, {}};
        QString lookError;
        if (!plan.folder->look_up(page.bytes, &item.pageStamp, &lookError)) {
            item.skipReason = QStringLiteral("网页“%1”：%2，未转换").arg(item.page.shown(), lookError);
        } else if (item.page.bytes.size() > kMaxNameBytes) {
            item.skipReason = QStringLiteral("它的网页文件名“%1”太长，超出了文件系统允许的长度，未转换")
                                  .arg(item.page.shown());
        } else if (plan.filter.excludes(item.page)) {
            item.skipReason = QStringLiteral("它的网页“%1”在不处理的文件之列，未转换").arg(item.page.shown());
        } else if (item.page.bytes == kIndexName.toLatin1()) {
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
    QString lookError;
    if (!plan.folder->look_up(kIndexName.toLatin1(), &plan.index, &lookError))
        plan.indexSkipReason = QStringLiteral("索引文件：%1，未写入").arg(lookError);
    else if (plan.filter.excludes(FileName::from_bytes(kIndexName.toLatin1())))
        plan.indexSkipReason = QStringLiteral("索引文件“index.htm”在不处理的文件之列，未写入");
    else if (const QString blocked = blocked_reason(*plan.folder, kIndexName.toLatin1(), plan.index);
             !blocked.isEmpty())
        plan.indexSkipReason = QStringLiteral("索引文件：%1，未写入").arg(blocked);
    // The former versions the run keeps: the pages and the index it replaces.
    qint64 bytes = plan.index.is_regular() ? plan.index.size : 0;
    for (const ConvertItem &item : plan.items)
        bytes += item.skipReason.isEmpty() && item.pageStamp.is_regular() ? item.pageStamp.size : 0;
    plan_record(plan, params.history, params.requireUndo, bytes);
    return plan;
}

Report apply_convert(const ConvertPlan &plan, const Progress &progress, const StopRequest *stop)
{
    Report report;
    const int FileCount = int(plan.items.size());
    report.files = FileCount;
    const std::optional<FolderLock> lock = begin_apply(plan, report);
    if (!lock)
        return report;
    const Folder &folder = *plan.folder;
    std::unique_ptr<RunRecorder> recorder;
    if (!start_record(plan, QStringLiteral("html"), plan.parameters, &recorder, report))
        return report;
    if (progress)
        progress(0, FileCount + 1);
    StepwiseProgress stepwise{progress, FileCount + 1};

    // Pages are made side by side, a batch at a time: each complete and
    // closed, the batch made durable with one flush, then each put in place.
    QList<IndexEntry> written;
    constexpr int kBatch = 256;
    auto stopped = [stop] { return stop && stop->load(); };
    QString unwritten; // why pages of a batch could not be put in place
    int handled = 0;   // text files done with
    for (int first = 0; first < FileCount && handled == first; first += kBatch) {
        const int count = std::min(kBatch, FileCount - first);
        std::vector<PageDone> batch(static_cast<size_t>(count));
        run_in_parallel(
            count,
            [&](int k) {
                if (stopped())
                    return;
                try {
                    batch[size_t(k)] = make_page(plan, plan.items[size_t(first + k)], recorder.get());
                } catch (const std::bad_alloc &) { // a text too large for the memory left: skipped
                    batch[size_t(k)] = PageDone();
                    batch[size_t(k)].problemName = plan.items[size_t(first + k)].source.name.shown();
                    batch[size_t(k)].problem = QStringLiteral("文件太大，内存不足，未转换");
                }
                batch[size_t(k)].handled = true;
            },
            [&](int n) { stepwise(first + n); });
        QString error;
        // The history knows every page of the batch before one is put in place.
        if (recorder) {
            for (const PageDone &done : batch) {
                if (done.output)
                    recorder->add(done.output->change());
            }
            if (!recorder->commit(&error)) {
                for (int k = 0; k < count; ++k) {
                    PageDone &done = batch[size_t(k)];
                    if (done.output) {
                        done.output.reset();
                        done.problemName = plan.items[size_t(first + k)].page.shown();
                        done.problem = QStringLiteral("%1，未写入").arg(error);
                    }
                }
            }
            error.clear();
        }
        const bool durable =
            make_durable(
                folder, batch, [](const PageDone &d) { return d.output ? &d.output->writer() : nullptr; },
                &error) &&
            folder.check_writable().isEmpty();
        if (!durable) {
            // No index that would leave out the pages of this batch.
            unwritten = error.isEmpty() ? QStringLiteral("文件夹在处理期间被设为只读或不能写入")
                                        : QStringLiteral("无法把网页写入磁盘（%1）").arg(error);
            error = unwritten;
        }
        run_in_parallel(count,
                        [&](int k) {
                            PageDone &done = batch[size_t(k)];
                            if (done.output && !(durable && done.output->publish())) {
                                done.problemName = plan.items[size_t(first + k)].page.shown();
                                done.problem =
                                    durable ? done.output->error() : QStringLiteral("未写入：%1").arg(error);
                                done.leftover = done.output->leftover();
                                done.output.reset();
                            }
                        },
                        {});
        for (int k = 0; k < count; ++k) {
            const PageDone &done = batch[size_t(k)];
            if (!done.handled)
                continue;
            ++handled;
            const QString &leftover = done.output ? done.output->leftover() : done.leftover;
            if (!leftover.isEmpty())
                report.notes << QStringLiteral("%1：%2").arg(plan.items[size_t(first + k)].page.shown(),
                                                             leftover);
            if (done.output) {
                written.append({plan.items[size_t(first + k)].page, done.title});
                ++report.changed;
                if (plan.listChanges)
                    report.changes.append(done.output->change());
            } else {
                report.problems.append({done.problemName, done.problem});
            }
        }
    }
    if (handled < FileCount) {
        report.status = Report::Status::Stopped;
        report.message =
            QStringLiteral("操作已停止：已处理 %1 个 txt 文件，其余 %2 个未处理；没有写入 index.htm。")
                .arg(handled)
                .arg(FileCount - handled);
    }

    QString error;
    const FileName index = FileName::from_bytes(kIndexName.toLatin1());
    PageOutput indexPage(plan, index, plan.index, recorder.get());
    if (report.status == Report::Status::Stopped) {
        // no index for part of the pages
    } else if (!unwritten.isEmpty()) {
        report.problems.append({kIndexName, QStringLiteral("未写入：%1").arg(unwritten)});
    } else if (!plan.indexSkipReason.isEmpty()) {
        report.problems.append({kIndexName, plan.indexSkipReason});
    } else {
        TextBuffer buffer;
        append_index(buffer, plan.title, written);
        report.indexWritten = indexPage.start() && indexPage.close(buffer, true);
        if (report.indexWritten && recorder) {
            recorder->add(indexPage.change());
            report.indexWritten = recorder->commit(&error);
        }
        report.indexWritten = report.indexWritten && indexPage.publish();
        if (!indexPage.leftover().isEmpty())
            report.notes << QStringLiteral("%1：%2").arg(kIndexName, indexPage.leftover());
        if (report.indexWritten && plan.listChanges)
            report.changes.append(indexPage.change());
        else if (!report.indexWritten && !error.isEmpty())
            report.problems.append({kIndexName, QStringLiteral("%1，未写入").arg(error)});
        else if (!report.indexWritten)
            report.problems.append({kIndexName, indexPage.error()});
    }
    if (!folder.sync(&error))
        note_unsynced(report, folder, error);
    if (recorder)
        recorder->finish(report.changed + report.indexWritten);
    return report;
}

} // namespace torvale
