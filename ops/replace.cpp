#include "replace.h"

#include "testhook.h"

#include "files/filesystem.h"
#include "files/linefile.h"
#include "files/listing.h"

#include <QDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace torvale {

namespace {

bool is_gbk_lead(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

// True when pos is where a character begins in GBK bytes. A byte below 0x40
// is never the second byte of a character (CR and LF among them), so parsing
// can start right after the last such byte.
bool on_gbk_boundary(QByteArrayView bytes, qsizetype pos)
{
    const auto *b = reinterpret_cast<const unsigned char *>(bytes.data());
    qsizetype start = pos;
    while (start > 0 && b[start - 1] >= 0x40)
        --start;
    qsizetype i = start;
    while (i < pos)
        i += (is_gbk_lead(b[i]) && i + 1 < bytes.size()) ? 2 : 1;
    return i == pos;
}

// True when the bytes at [pos, pos + length) take in an LF that ends a line
// together with the CR before it.
bool crosses_line_end(QByteArrayView bytes, qsizetype pos, qsizetype length)
{
    for (qsizetype k = pos; k < pos + length; ++k) {
        if (bytes[k] == '\n' && k > 0 && bytes[k - 1] == '\r')
            return true;
    }
    return false;
}

} // namespace

int replace_in_bytes(QByteArrayView bytes, Charset charset, QByteArrayView needle, QByteArrayView replacement,
                     QByteArray *out)
{
    if (needle.isEmpty() || needle.contains('\r'))
        return 0; // a line never holds a CR
    const bool mayCross = needle.contains('\n');
    const std::boyer_moore_horspool_searcher searcher(needle.begin(), needle.end());
    int count = 0;
    qsizetype copied = 0; // bytes before this are in *out already
    qsizetype from = 0;
    QByteArray result;
    while (from <= bytes.size() - needle.size()) {
        const auto hit = std::search(bytes.begin() + from, bytes.end(), searcher);
        if (hit == bytes.end())
            break;
        const qsizetype pos = hit - bytes.begin();
        if ((charset == Charset::Gbk && !on_gbk_boundary(bytes, pos)) ||
            (mayCross && crosses_line_end(bytes, pos, needle.size()))) {
            from = pos + 1;
            continue;
        }
        if (count == 0)
            result.reserve(bytes.size() + std::max<qsizetype>(0, replacement.size() - needle.size()) * 16);
        result.append(bytes.sliced(copied, pos - copied));
        result.append(replacement);
        ++count;
        from = copied = pos + needle.size();
    }
    if (count > 0) {
        result.append(bytes.sliced(copied));
        *out = std::move(result);
    }
    return count;
}

ReplaceVerdict examine_for_replace(const QString &path, const ReplaceParams &params, const ReplaceNeedles &needles)
{
    ReplaceVerdict verdict;
    if (params.find.isEmpty())
        return verdict;
    QByteArray bytes;
    QString error;
    FileReader reader;
    if (!reader.open(path, &error)) {
        verdict.skipReason = QStringLiteral("无法读取：%1").arg(error);
        return verdict;
    }
    // Most files hold no occurrence: pass them over without decoding, and a
    // large one a piece at a time, so that memory stays small.
    auto mayHold = [&needles](QByteArrayView bytes) {
        return (needles.findGbk && bytes.contains(*needles.findGbk)) ||
               (needles.findUtf8 != needles.findGbk && bytes.contains(needles.findUtf8));
    };
    constexpr qsizetype kPiece = 8 * 1024 * 1024;
    if (reader.size() > kPiece) {
        const qsizetype overlap = std::max(needles.findUtf8.size(), needles.findGbk.value_or(QByteArray()).size());
        bool found = false;
        for (qsizetype n; !found && (n = reader.read_some(bytes, kPiece, &error)) != 0;) {
            if (n < 0) {
                verdict.skipReason = QStringLiteral("无法读取：%1").arg(error);
                return verdict;
            }
            found = mayHold(bytes);
            bytes.remove(0, std::max<qsizetype>(0, bytes.size() - overlap));
        }
        if (!found)
            return verdict;
        bytes.clear();
        reader.rewind();
    }
    if (!reader.read_rest(bytes, &error)) {
        verdict.skipReason = QStringLiteral("无法读取：%1").arg(error);
        return verdict;
    }
    if (!mayHold(bytes))
        return verdict;

    const std::optional<Charset> charset = detect_charset(bytes);
    if (!charset) {
        verdict.skipReason = QStringLiteral("不是文本文件（含有二进制内容或无效的字符编码），未修改");
        return verdict;
    }
    const bool gbk = *charset == Charset::Gbk;
    if (gbk && !needles.findGbk)
        return verdict;
    const int count = replace_in_bytes(bytes, *charset, gbk ? *needles.findGbk : needles.findUtf8,
                                       gbk ? needles.replaceGbk.value_or(QByteArray()) : needles.replaceUtf8,
                                       &verdict.newBytes);
    if (count == 0)
        return verdict;
    verdict.occurrences = count;
    if (gbk && !needles.replaceGbk)
        verdict.skipReason = QStringLiteral("替换字符串中有GBK编码无法表示的字符，未修改");
    else if (is_write_protected(path))
        verdict.skipReason = QStringLiteral("文件是只读的，未修改");
    if (!verdict.skipReason.isEmpty())
        verdict.newBytes.clear();
    else
        verdict.formerBytes = std::move(bytes);
    return verdict;
}

ReplaceNeedles::ReplaceNeedles(const ReplaceParams &params)
    : findGbk(encode(params.find, Charset::Gbk)),
      findUtf8(params.find.toUtf8()),
      replaceGbk(encode(params.replace, Charset::Gbk)),
      replaceUtf8(params.replace.toUtf8())
{
}

ReplacePlan plan_replace(const ReplaceParams &params)
{
    ReplacePlan plan;
    const Listing listing = list_working_files(params.dir);
    if (!listing.ok) {
        plan.refusal = listing.error;
        return plan;
    }
    const QDir dir(params.dir);
    const ReplaceNeedles needles(params);
    for (const QString &name : listing.names) {
        const ReplaceVerdict verdict = examine_for_replace(dir.filePath(name), params, needles);
        if (verdict.occurrences > 0 || !verdict.skipReason.isEmpty())
            plan.items.append({name, verdict.occurrences, verdict.skipReason});
    }
    return plan;
}

Report run_replace(const ReplaceParams &params, const Progress &progress)
{
    Report report;
    const Listing listing = list_working_files(params.dir);
    if (!listing.ok) {
        report.status = Report::Status::Refused;
        report.message = listing.error;
        return report;
    }
    after_planning(params.dir);
    const QDir dir(params.dir);
    const QStringList &SourceFiles = listing.names;
    const int FileCount = int(SourceFiles.size());
    report.files = FileCount;
    if (progress)
        progress(0, FileCount + 1);

    // Files are independent of each other: a few workers read, replace and
    // write them side by side while this thread reports progress. Each file
    // is written atomically, so the work stays as safe as one file at a time.
    struct Outcome
    {
        int occurrences = 0;
        QString problem;
        bool written = false;
        Change change;
    };
    std::vector<Outcome> outcomes(static_cast<size_t>(FileCount));
    const ReplaceNeedles needles(params);
    std::atomic<int> next{0};
    std::mutex mutex;
    std::condition_variable finishedOne;
    int finished = 0;
    auto work = [&] {
        for (int i; (i = next++) < FileCount;) {
            Outcome &outcome = outcomes[size_t(i)];
            const QString path = dir.filePath(SourceFiles[i]);
            ReplaceVerdict verdict = examine_for_replace(path, params, needles);
            outcome.problem = verdict.skipReason;
            if (verdict.skipReason.isEmpty() && verdict.occurrences > 0) {
                QString error;
                const QString backup =
                    params.backupDir.isEmpty() ? QString() : QDir(params.backupDir).filePath(QString::number(i));
                if (!backup.isEmpty() && !save_file(backup, verdict.formerBytes, &error)) {
                    outcome.problem = QStringLiteral("无法保存撤销所需的副本（%1），未修改").arg(error);
                } else if (save_file(path, verdict.newBytes, &error)) {
                    outcome.written = true;
                    outcome.occurrences = verdict.occurrences;
                    if (!backup.isEmpty())
                        outcome.change = {Change::Kind::Rewritten, SourceFiles[i], {}, backup, fingerprint_of(path)};
                } else {
                    outcome.problem = error;
                }
            }
            std::lock_guard<std::mutex> lock(mutex);
            ++finished;
            finishedOne.notify_one();
        }
    };
    const int workers = std::clamp(QThread::idealThreadCount(), 1, 4);
    std::vector<std::thread> threads;
    for (int w = 0; w < workers && w < FileCount; ++w)
        threads.emplace_back(work);
    for (int reported = 0; reported < FileCount;) {
        std::unique_lock<std::mutex> lock(mutex);
        finishedOne.wait(lock, [&] { return finished > reported; });
        const int now = finished;
        lock.unlock();
        for (; reported < now; ++reported) {
            if (progress)
                progress(reported + 1, FileCount + 1);
        }
    }
    for (std::thread &t : threads)
        t.join();

    for (int i = 0; i < FileCount; ++i) {
        const Outcome &outcome = outcomes[size_t(i)];
        if (!outcome.problem.isEmpty())
            report.problems.append({SourceFiles[i], outcome.problem});
        if (outcome.written) {
            ++report.changed;
            report.occurrences += outcome.occurrences;
            if (!params.backupDir.isEmpty())
                report.changes.append(outcome.change);
        }
    }
    return report;
}

} // namespace torvale
