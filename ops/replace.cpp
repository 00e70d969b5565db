#include "replace.h"

#include "parallel.h"

#include "files/gbktable.h"

#include <algorithm>
#include <functional>
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

const QString kNotTextReason = QStringLiteral("不是文本文件（含有二进制内容或无效的字符编码），未修改");

// True when the text holds only a few characters beyond ASCII. Longer text
// that is valid UTF-8 is UTF-8: GBK text is valid UTF-8 only by a chance that
// shrinks with every character.
bool is_short_non_ascii(QByteArrayView bytes)
{
    constexpr int kFew = 8;
    int characters = 0;
    for (char c : bytes) {
        // Each UTF-8 character beyond ASCII has one leading byte (0xC0 and up).
        if (uchar(c) >= 0xC0 && ++characters >= kFew)
            return false;
    }
    return true;
}

// What a replace does to one file, worked out without changing it.
struct Verdict
{
    int occurrences = 0;
    QString skipReason;
    QByteArray newBytes;    // set when the file is to be rewritten
    QByteArray formerBytes; // and its bytes now
};

struct Outcome
{
    int occurrences = 0;
    QByteArray bytes;
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

Verdict examine(const Folder &folder, const Entry &file, const Needles &needles)
{
    Verdict verdict;
    QByteArray bytes;
    QString error;
    FileReader reader;
    auto unreadable = [&] {
        verdict.skipReason = QStringLiteral("无法读取：%1").arg(error);
        return verdict;
    };
    if (!reader.open(folder, file.name.bytes, &file.stamp, &error))
        return unreadable();
    // Most files hold no occurrence: pass them over without decoding, and a
    // large one a piece at a time, so that memory stays small.
    constexpr qsizetype kPiece = 8 * 1024 * 1024;
    if (reader.stamp().size > kPiece) {
        const qsizetype overlap =
            std::max(needles.findUtf8.size(), needles.findGbk.value_or(QByteArray()).size());
        bool found = false, binary = false;
        for (qsizetype n, piece = 0; !found && (n = reader.read_some(bytes, kPiece, &error)) != 0; ++piece) {
            if (n < 0)
                return unreadable();
            if (piece == 0)
                binary = !is_utf16_text(bytes) && bytes.left(64 * 1024).contains('\0');
            found = needles.may_occur_in(bytes) || (piece == 0 && is_utf16_text(bytes));
            bytes.remove(0, std::max<qsizetype>(0, bytes.size() - overlap));
        }
        if (!found)
            return verdict;
        if (binary) { // known from its start, without reading it whole
            verdict.skipReason = kNotTextReason;
            return verdict;
        }
        bytes.clear();
        reader.rewind();
    }
    if (!reader.read_rest(bytes, &error))
        return unreadable();
    if (is_utf16_text(bytes)) {
        if (decode_utf16(bytes).contains(needles.find))
            verdict.skipReason = kUtf16Reason + QStringLiteral("，未修改");
        return verdict;
    }
    if (!needles.may_occur_in(bytes))
        return verdict;

    const std::optional<Charset> charset = detect_charset(bytes);
    if (!charset) {
        verdict.skipReason = kNotTextReason;
        return verdict;
    }
    Outcome outcome = replaced(bytes, *charset, needles);
    if (outcome.occurrences == 0 || outcome.bytes == bytes)
        return verdict; // nothing would change
    verdict.occurrences = outcome.occurrences;
    // Short text can be valid UTF-8 and valid GBK at once: when the two
    // readings would give different bytes, no guess is safe.
    auto ambiguous = [&] {
        if (*charset != Charset::Utf8 || !is_short_non_ascii(bytes) || !GbkTable::instance().is_text(bytes))
            return false;
        const Outcome asGbk = replaced(bytes, Charset::Gbk, needles);
        return asGbk.occurrences != outcome.occurrences || asGbk.bytes != outcome.bytes ||
               !needles.replaceGbk;
    };
    if (ambiguous())
        verdict.skipReason = QStringLiteral("编码不明确（既可读作 UTF-8，也可读作 GBK），未修改");
    else if (*charset == Charset::Gbk && !needles.replaceGbk)
        verdict.skipReason = QStringLiteral("替换字符串中有GBK编码无法表示的字符，未修改");
    else if (const QString why = folder.check_replaceable(file.name.bytes, file.stamp); !why.isEmpty())
        verdict.skipReason = why + QStringLiteral("，未修改");
    if (verdict.skipReason.isEmpty()) {
        verdict.newBytes = std::move(outcome.bytes);
        verdict.formerBytes = std::move(bytes);
    }
    return verdict;
}

// The same, for a file too large for the memory left: skipped, not a crash.
Verdict examine_safely(const Folder &folder, const Entry &file, const Needles &needles)
{
    try {
        return examine(folder, file, needles);
    } catch (const std::bad_alloc &) {
        Verdict verdict;
        verdict.skipReason = QStringLiteral("文件太大，内存不足，未修改");
        return verdict;
    }
}

// Calls progress with every value from the last one given up to value.
struct StepwiseProgress
{
    const Progress &progress;
    int maximum;
    int last = 0;
    void operator()(int value)
    {
        while (progress && last < value)
            progress(++last, maximum);
    }
};

} // namespace

ReplacePlan plan_replace(const ReplaceParams &params, bool examineContents)
{
    ReplacePlan plan;
    plan.find = params.find;
    plan.replace = params.replace;
    Listing listing;
    if (!open_for_plan(params.dir, plan, listing))
        return plan;
    if (!params.backupDir.isEmpty()) {
        plan.backups = Folder::open(params.backupDir, &plan.refusal, false);
        if (!plan.backups)
            return plan;
    }
    plan.items.reserve(listing.plain.size());
    for (Entry &entry : listing.plain)
        plan.items.push_back({std::move(entry), params.find.isEmpty() ? 0 : -1, {}});
    if (examineContents && !params.find.isEmpty()) {
        const Needles needles(plan);
        run_in_parallel(int(plan.items.size()),
                        [&](int i) {
                            ReplaceItem &item = plan.items[size_t(i)];
                            const Verdict verdict = examine_safely(*plan.folder, item.file, needles);
                            item.occurrences = verdict.occurrences;
                            item.skipReason = verdict.skipReason;
                        },
                        {});
    }
    return plan;
}

Report apply_replace(const ReplacePlan &plan, const Progress &progress)
{
    Report report;
    const int FileCount = int(plan.items.size());
    report.files = FileCount;
    const std::optional<FolderLock> lock = begin_apply(plan, report);
    if (!lock)
        return report;
    StepwiseProgress stepwise{progress, FileCount + 1};
    if (progress)
        progress(0, FileCount + 1);

    struct Result
    {
        int occurrences = 0;
        QString problem;
        Change change;
    };
    std::vector<Result> results(static_cast<size_t>(FileCount));
    const Needles needles(plan);
    const Folder &folder = *plan.folder;
    run_in_parallel(
        FileCount,
        [&](int i) {
            const ReplaceItem &item = plan.items[size_t(i)];
            Result &result = results[size_t(i)];
            if (item.occurrences == 0 || !item.skipReason.isEmpty()) {
                result.problem = item.skipReason; // known from the plan: nothing to read
                return;
            }
            Verdict verdict = examine_safely(folder, item.file, needles);
            result.problem = verdict.skipReason;
            if (!verdict.skipReason.isEmpty() || verdict.occurrences == 0)
                return;
            QString error;
            const QByteArray backup = plan.backups ? QByteArray::number(i) : QByteArray();
            if (plan.backups &&
                !save_file(*plan.backups, backup, nullptr, verdict.formerBytes, &error, false)) {
                result.problem = QStringLiteral("无法保存撤销所需的副本（%1），未修改").arg(error);
            } else if (!save_file(folder, item.file.name.bytes, &item.file.stamp, verdict.newBytes, &error)) {
                result.problem = QStringLiteral("写入失败（%1），未修改").arg(error);
            } else {
                result.occurrences = verdict.occurrences;
                result.change = {Change::Kind::Rewritten,
                                 item.file.name.bytes,
                                 {},
                                 backup,
                                 folder.stamp(item.file.name.bytes)};
            }
        },
        stepwise);

    QString error;
    if (!folder.sync(&error))
        report.problems.append({folder.path(), QStringLiteral("无法把改动写入磁盘：%1").arg(error)});
    for (int i = 0; i < FileCount; ++i) {
        const Result &result = results[size_t(i)];
        if (!result.problem.isEmpty())
            report.problems.append({plan.items[size_t(i)].file.name.shown(), result.problem});
        if (result.occurrences > 0) {
            ++report.changed;
            report.occurrences += result.occurrences;
            if (plan.backups)
                report.changes.append(result.change);
        }
    }
    return report;
}

} // namespace torvale
