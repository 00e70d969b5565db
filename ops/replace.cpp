#include "replace.h"

#include "parallel.h"

#include "files/gbktable.h"
#include "files/linefile.h"

#include <QMap>
#include <QStringDecoder>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>

namespace torvale {

namespace {

bool is_gbk_lead(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

} // namespace

int replace_in_bytes(QByteArrayView bytes, Charset charset, QByteArrayView needle, QByteArrayView replacement,
                     QByteArray *out)
{
    if (needle.isEmpty() || needle.contains('\r') || needle.contains('\n'))
        return 0; // a line never holds a line end
    const std::boyer_moore_horspool_searcher searcher(needle.begin(), needle.end());
    int count = 0;
    qsizetype copied = 0; // bytes before this are in *out already
    qsizetype from = 0;
    qsizetype boundary = 0; // a place where a GBK character begins, at or before the next hit
    const auto *b = reinterpret_cast<const unsigned char *>(bytes.data());
    QByteArray result;
    while (from <= bytes.size() - needle.size()) {
        const auto hit = std::search(bytes.begin() + from, bytes.end(), searcher);
        if (hit == bytes.end())
            break;
        const qsizetype pos = hit - bytes.begin();
        if (charset == Charset::Gbk) {
            // Walk the characters up to the hit: hits come in order, so the
            // whole file is walked once, however long its lines.
            while (boundary < pos)
                boundary += (is_gbk_lead(b[boundary]) && boundary + 1 < bytes.size()) ? 2 : 1;
            if (boundary != pos) {
                from = pos + 1;
                continue;
            }
        }
        if (count == 0)
            result.reserve(bytes.size() + std::max<qsizetype>(0, replacement.size() - needle.size()) * 16);
        result.append(bytes.sliced(copied, pos - copied));
        result.append(replacement);
        ++count;
        from = copied = boundary = pos + needle.size();
    }
    if (count > 0) {
        result.append(bytes.sliced(copied));
        *out = std::move(result);
    }
    return count;
}

namespace {

// The search and replacement texts as bytes in each character set that a
// file may have. A text that GBK cannot hold occurs in no GBK file.
struct Needles
{
    explicit Needles(const ReplacePlan &plan)
        : find(plan.find), findGbk(encode(plan.find, Charset::Gbk)), findUtf8(plan.find.toUtf8()),
          replaceGbk(encode(plan.replace, Charset::Gbk)), replaceUtf8(plan.replace.toUtf8())
    {
    }
    // The fewest bytes the search text takes in either character set.
    qsizetype shortest() const
    {
        return findGbk ? std::min(findGbk->size(), findUtf8.size()) : findUtf8.size();
    }
    // True when the bytes may hold the search text in either character set.
    bool may_occur_in(QByteArrayView bytes) const
    {
        return (findGbk && bytes.contains(*findGbk)) || (findUtf8 != findGbk && bytes.contains(findUtf8));
    }
    QString find;
    std::optional<QByteArray> findGbk;
    QByteArray findUtf8;
    std::optional<QByteArray> replaceGbk;
    QByteArray replaceUtf8;
};

// Files are read in pieces of whole lines; a file up to this size is kept
// in memory between the passes, a larger one is read again.
constexpr qsizetype kKept = 1 << 20;

struct Outcome
{
    int occurrences = 0;
    QByteArray bytes; // when there were any
};

Outcome replaced(QByteArrayView bytes, Charset charset, const Needles &needles)
{
    Outcome outcome;
    const bool gbk = charset == Charset::Gbk;
    if (gbk && !needles.findGbk)
        return outcome;
    outcome.occurrences = replace_in_bytes(
        bytes, charset, gbk ? *needles.findGbk : needles.findUtf8,
        gbk ? needles.replaceGbk.value_or(QByteArray()) : needles.replaceUtf8, &outcome.bytes);
    return outcome;
}

// What a replace does, or would do, to one file.
struct Rewrite
{
    int occurrences = 0;
    QString skipReason;
    std::unique_ptr<FileWriter> staged; // the new version, finished but not yet in place
    QString leftover;                   // what putting it in place left in the folder
    bool handled = false;               // false when a stop came first
};

// True when UTF-16 text holds the search text (read a piece at a time).
bool utf16_holds(FileReader &reader, QByteArrayView head, const QString &find, QString *error)
{
    QStringDecoder decoder(head.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
    QString text = decoder.decode(head.sliced(2));
    for (QByteArray piece;; piece.clear()) {
        if (text.contains(find))
            return true;
        text = text.right(find.size());
        const qsizetype n = reader.read_some(piece, 1 << 20, error);
        if (n <= 0)
            return false;
        text += decoder.decode(piece);
    }
}

// Reads the file in pieces of whole lines: once to learn its character set and
// whether it may hold the search text, once to count the occurrences and, to
// write, once more into the new version beside it (and into a copy of the
// former bytes, with backups), finished but not yet in place. A line is held
// whole, a file is not.
Rewrite rewrite(const Folder &folder, const Entry &file, const Needles &needles, const Folder *backups,
                const QByteArray &backupName, bool write)
{
    Rewrite result;
    if (file.stamp.size < needles.shortest())
        return result; // too small to hold the search text: not even opened
    QString error;
    FileReader reader;
    auto skip = [&](const QString &why) {
        result.skipReason = why + QStringLiteral("，未修改");
        result.staged.reset();
        return std::move(result);
    };
    auto unreadable = [&] { return skip(QStringLiteral("无法读取：%1").arg(error)); };
    if (!reader.open(folder, file.name.bytes, &file.stamp, &error))
        return reader.stamp().exists() ? skip(error) : unreadable(); // opened, but not as planned
    // A binary file is known from its start, and not read further.
    QByteArray head;
    if (reader.read_some(head, 64 * 1024, &error) < 0)
        return unreadable();
    if (is_utf16_text(head))
        return utf16_holds(reader, head, needles.find, &error) ? skip(kUtf16Reason) : std::move(result);
    if (head.contains('\0'))
        return needles.may_occur_in(head) ? skip(kNotTextReason) : std::move(result);

    CharsetScan scan;
    bool mayOccur = false;
    std::vector<QByteArray> kept; // the whole file, when it is small
    qsizetype keptSize = 0;
    auto each_piece = [&](const std::function<void(const QByteArray &)> &take) {
        if (keptSize >= 0) {
            for (const QByteArray &piece : kept)
                take(piece);
            return true;
        }
        if (!reader.rewind(&error))
            return false;
        LineChunks chunks(reader);
        QByteArray piece;
        while (chunks.next(&piece, &error))
            take(piece);
        return !chunks.failed();
    };
    // A small file was read whole with its start.
    const bool whole = reader.stamp().size == head.size();
    if (whole) {
        scan.feed(head);
        mayOccur = needles.may_occur_in(head);
        keptSize = head.size();
        kept.push_back(head);
    }
    if (!whole && !reader.rewind(&error))
        return unreadable();
    // Read on until the file is known as text holding the search text, or
    // as neither (a file that is not text is named only when it holds it).
    LineChunks chunks(reader);
    for (QByteArray piece; !whole && !(scan.hopeless() && mayOccur) && chunks.next(&piece, &error);) {
        if (!scan.hopeless())
            scan.feed(piece);
        mayOccur = mayOccur || needles.may_occur_in(piece);
        keptSize = keptSize >= 0 && keptSize + piece.size() <= kKept ? keptSize + piece.size() : -1;
        if (keptSize >= 0)
            kept.push_back(piece);
        else
            kept.clear();
    }
    if (chunks.failed())
        return unreadable();
    if (!mayOccur)
        return result; // most files: nothing to do, nothing decoded
    const std::optional<Charset> charset = scan.charset();
    if (!charset)
        return skip(kNotTextReason);

    // Short text can be valid UTF-8 and valid GBK at once: when the two
    // readings would give different bytes, no guess is safe. Longer text
    // that is valid UTF-8 is UTF-8.
    const bool bothReadings = *charset == Charset::Utf8 && scan.maybe_gbk() && scan.non_ascii() < 8;
    bool ambiguous = false, changes = false;
    const bool read = each_piece([&](const QByteArray &piece) {
        const Outcome outcome = replaced(piece, *charset, needles);
        result.occurrences += outcome.occurrences;
        changes = changes || (outcome.occurrences > 0 && outcome.bytes != piece);
        if (bothReadings) {
            const Outcome asGbk = replaced(piece, Charset::Gbk, needles);
            ambiguous = ambiguous || asGbk.occurrences != outcome.occurrences ||
                        asGbk.bytes != outcome.bytes || (asGbk.occurrences > 0 && !needles.replaceGbk);
        }
    });
    if (!read)
        return unreadable();
    if (!changes) {
        result.occurrences = 0; // nothing would change
        return result;
    }
    if (ambiguous)
        return skip(QStringLiteral("编码不明确（既可读作 UTF-8，也可读作 GBK）"));
    if (*charset == Charset::Gbk && !needles.replaceGbk)
        return skip(QStringLiteral("替换字符串中有GBK编码无法表示的字符"));
    if (!write) {
        if (const QString why = folder.check_replaceable(file.name.bytes, file.stamp); !why.isEmpty())
            return skip(why);
        return result;
    }

    result.staged = std::make_unique<FileWriter>();
    FileWriter copy;
    if (backups && !copy.begin(*backups, backupName, nullptr, &error))
        return skip(QStringLiteral("无法保存撤销所需的副本（%1）").arg(error));
    if (!result.staged->begin(folder, file.name.bytes, &file.stamp, &error))
        return skip(error);
    bool written = true;
    const bool again = each_piece([&](const QByteArray &piece) {
        const Outcome outcome = replaced(piece, *charset, needles);
        written = written && (!backups || copy.write(piece, &error)) &&
                  result.staged->write(outcome.occurrences > 0 ? outcome.bytes : piece, &error);
    });
    if (!again)
        return unreadable();
    if (backups && !(written && copy.commit(&error, false)))
        return skip(QStringLiteral("无法保存撤销所需的副本（%1）").arg(error));
    if (!written || !result.staged->finish(&error, false, &reader))
        return skip(QStringLiteral("写入失败（%1）").arg(error));
    return result;
}

// The same, for a file too large for the memory left: skipped, not a crash.
Rewrite rewrite_safely(const Folder &folder, const Entry &file, const Needles &needles, const Folder *backups,
                       const QByteArray &backupName, bool write)
{
    try {
        return rewrite(folder, file, needles, backups, backupName, write);
    } catch (const std::bad_alloc &) {
        Rewrite result;
        result.skipReason = QStringLiteral("文件太大，内存不足，未修改");
        return result;
    }
}

} // namespace

ReplacePlan plan_replace(const ReplaceParams &params, bool examineContents, const Progress &progress)
{
    ReplacePlan plan;
    plan.find = params.find;
    plan.listChanges = params.listChanges;
    plan.replace = params.replace;
    Listing listing;
    if (!open_for_plan(params.dir, plan, listing, params.filter))
        return plan;
    if (!params.backupDir.isEmpty()) {
        plan.backups = Folder::open(params.backupDir, &plan.refusal, false);
        if (!plan.backups)
            return plan;
    }
    plan.files = std::move(listing.plain);
    plan.occurrences.assign(plan.files.size(), params.find.isEmpty() ? 0 : -1);
    if (examineContents && !params.find.isEmpty()) {
        const Needles needles(plan);
        std::mutex mutex;
        const int count = int(plan.files.size());
        run_in_parallel(
            count,
            [&](int i) {
                const Rewrite verdict =
                    rewrite_safely(*plan.folder, plan.files[size_t(i)], needles, nullptr, {}, false);
                plan.occurrences[size_t(i)] = verdict.occurrences;
                if (!verdict.skipReason.isEmpty()) {
                    std::lock_guard<std::mutex> lock(mutex);
                    plan.skipReasons.insert(i, verdict.skipReason);
                }
            },
            [&](int done) {
                if (progress)
                    progress(done, count + 1);
            });
    }
    return plan;
}

Report apply_replace(const ReplacePlan &plan, const Progress &progress, const StopRequest *stop)
{
    Report report;
    const int FileCount = int(plan.files.size());
    report.files = FileCount;
    const std::optional<FolderLock> lock = begin_apply(plan, report);
    if (!lock)
        return report;
    StepwiseProgress stepwise{progress, FileCount + 1};
    if (progress)
        progress(0, FileCount + 1);

    // Per file only the count; problems and changes are few and kept apart.
    std::vector<qint32> replaced(size_t(FileCount), 0);
    QMap<qint32, QString> problems;
    for (auto it = plan.skipReasons.cbegin(); it != plan.skipReasons.cend(); ++it)
        problems.insert(it.key(), it.value());
    QMap<qint32, Change> changes;
    const Needles needles(plan);
    const Folder &folder = *plan.folder;
    // Files are written in batches: each new version is written and closed,
    // the whole batch made durable with one flush, and only then is each put
    // in place. A run killed before that leaves the old files and hidden
    // unfinished ones, which the next run removes.
    constexpr int kBatch = 256;
    auto stopped = [stop] { return stop && stop->load(); };
    int handled = 0; // files done with (changed, or left as they are for good)
    for (int first = 0; first < FileCount && handled == first; first += kBatch) {
        const int count = std::min(kBatch, FileCount - first);
        std::vector<Rewrite> batch(static_cast<size_t>(count));
        run_in_parallel(
            count,
            [&](int k) {
                const int i = first + k;
                if (stopped())
                    return;
                batch[size_t(k)].handled = true;
                if (plan.skipReasons.contains(i))
                    return; // known from the plan
                const Entry &file = plan.files[size_t(i)];
                if (plan.occurrences[size_t(i)] == 0) {
                    // Shown without hits: not read again, but named when it
                    // has changed since.
                    if (!folder.stamp(file.name.bytes).same_file(file.stamp))
                        batch[size_t(k)].skipReason = kChangedSincePlan + QStringLiteral("，未修改");
                    return;
                }
                batch[size_t(k)] =
                    rewrite_safely(folder, file, needles, plan.backups.get(), QByteArray::number(i), true);
                batch[size_t(k)].handled = true;
            },
            [&](int n) { stepwise(first + n); });
        QString error;
        const bool staged =
            std::any_of(batch.begin(), batch.end(), [](const Rewrite &r) { return bool(r.staged); });
        // (A folder made read-only meanwhile, the flush waiting, stops the batch.)
        const bool durable =
            !staged || (folder.sync_all(&error) &&
                        (folder.check_writable().isEmpty() ||
                         (error = QStringLiteral("文件夹在处理期间被设为只读或不能写入"), false)));
        run_in_parallel(count,
                        [&](int k) {
                            Rewrite &r = batch[size_t(k)];
                            QString failure = error;
                            if (r.staged && stopped()) { // not put in place: it keeps its bytes
                                r.staged.reset();
                                r.handled = false;
                            }
                            if (r.staged && !(durable && r.staged->publish(&failure)))
                                r.skipReason = QStringLiteral("写入失败（%1），未修改").arg(failure);
                            if (r.staged && !r.staged->leftover().isEmpty())
                                r.leftover = r.staged->leftover();
                        },
                        {});
        for (int k = 0; k < count; ++k) {
            const Rewrite &r = batch[size_t(k)];
            const int i = first + k;
            const Entry &file = plan.files[size_t(i)];
            if (!r.handled) {
                problems.remove(i);
                continue;
            }
            ++handled;
            if (!r.leftover.isEmpty())
                report.notes << QStringLiteral("%1：%2").arg(file.name.shown(), r.leftover);
            if (!r.skipReason.isEmpty()) {
                problems.insert(i, r.skipReason);
            } else if (r.staged) {
                replaced[size_t(i)] = r.occurrences;
                if (plan.backups || plan.listChanges)
                    changes.insert(i, {Change::Kind::Rewritten,
                                       file.name.bytes,
                                       {},
                                       QByteArray::number(i),
                                       folder.stamp(file.name.bytes),
                                       file.stamp,
                                       r.occurrences});
            }
        }
    }

    QString error;
    for (auto it = problems.cbegin(); it != problems.cend(); ++it)
        report.problems.append({plan.files[size_t(it.key())].name.shown(), it.value()});
    if (!folder.sync(&error))
        note_unsynced(report, folder, error);
    for (const qint32 count : replaced) {
        report.changed += count > 0;
        report.occurrences += count;
    }
    report.changes = changes.values();
    if (handled < FileCount) {
        report.status = Report::Status::Stopped;
        report.message = QStringLiteral("操作已停止：已处理 %1 个文件，其余 %2 个文件未处理，保持原样。")
                             .arg(handled)
                             .arg(FileCount - handled);
    }
    return report;
}

} // namespace torvale
