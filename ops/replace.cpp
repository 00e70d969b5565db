#include "replace.h"

#include "history.h"
#include "parallel.h"
#include "pattern.h"

#include "files/charsetguess.h"
#include "files/linefile.h"

#include <QMap>

#include <algorithm>
#include <array>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>

namespace torvale {

namespace {

// Counts the hits of a file, at most the largest count a file's hits are
// kept as: a file of billions of hits never counts as one without any.
void add_hits(int &total, int more)
{
    total = more > std::numeric_limits<int>::max() - total ? std::numeric_limits<int>::max() : total + more;
}

// Why a file is left alone when an expression cannot be matched through it.
QString too_costly()
{
    return QStringLiteral("正则表达式在这个文件中回溯过多，无法完成匹配");
}

// How many bytes the GBK or GB18030 character at i takes.
qsizetype char_size(const uchar *b, qsizetype i, qsizetype size, Charset charset)
{
    if (!is_gbk_lead(b[i]) || i + 1 >= size)
        return 1;
    if (charset == Charset::Gb18030 && b[i + 1] >= 0x30 && b[i + 1] <= 0x39 && i + 3 < size)
        return 4;
    return 2;
}

// True when the bytes hold a line end: a CR or LF code unit in UTF-16, a CR
// or LF byte in the others (where no other character holds one).
bool holds_line_end(QByteArrayView bytes, Charset charset)
{
    if (!is_utf16(charset))
        return bytes.contains('\r') || bytes.contains('\n');
    const int low = charset == Charset::Utf16Le ? 0 : 1;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        if (bytes[i + 1 - low] == 0 && (bytes[i + low] == '\r' || bytes[i + low] == '\n'))
            return true;
    }
    return false;
}

} // namespace

int replace_in_bytes(QByteArrayView bytes, Charset charset, QByteArrayView needle, QByteArrayView replacement,
                     QByteArray *out)
{
    if (needle.isEmpty() || holds_line_end(needle, charset))
        return 0; // a line never holds a line end
    const std::boyer_moore_horspool_searcher searcher(needle.begin(), needle.end());
    const bool walk = charset == Charset::Gbk || charset == Charset::Gb18030;
    int count = 0;
    qsizetype copied = 0; // bytes before this are in *out already
    qsizetype from = 0;
    qsizetype boundary = 0; // a place where a GBK character begins, at or before the next hit
    const auto *b = reinterpret_cast<const uchar *>(bytes.data());
    QByteArray result;
    while (from <= bytes.size() - needle.size()) {
        const auto hit = std::search(bytes.begin() + from, bytes.end(), searcher);
        if (hit == bytes.end())
            break;
        const qsizetype pos = hit - bytes.begin();
        if (walk) {
            // Walk the characters up to the hit: hits come in order, so the
            // whole file is walked once, however long its lines.
            if (charset == Charset::Gbk) {
                while (boundary < pos)
                    boundary += is_gbk_lead(b[boundary]) && boundary + 1 < bytes.size() ? 2 : 1;
            }
            while (boundary < pos)
                boundary += char_size(b, boundary, bytes.size(), charset);
            if (boundary != pos) {
                from = pos + 1;
                continue;
            }
        } else if (is_utf16(charset) && pos % 2 != 0) {
            from = pos + 1; // within a code unit
            continue;
        }
        if (out) {
            if (count == 0)
                result.reserve(bytes.size() +
                               std::max<qsizetype>(0, replacement.size() - needle.size()) * 16);
            result.append(bytes.sliced(copied, pos - copied));
            result.append(replacement);
        }
        ++count;
        from = copied = boundary = pos + needle.size();
    }
    if (count > 0 && out) {
        result.append(bytes.sliced(copied));
        *out = std::move(result);
    }
    return count;
}

namespace {

constexpr Charset kCharsets[] = {Charset::Ascii,   Charset::Utf8,    Charset::Utf8Bom, Charset::Gbk,
                                 Charset::Gb18030, Charset::Utf16Le, Charset::Utf16Be};

// The search and replacement texts as bytes in each character set that a
// file may have. A text that a character set cannot hold occurs in no file
// of it.
class Needles
{
public:
    explicit Needles(const ReplacePlan &plan)
    {
        if (plan.options.regex || plan.options.ignoreCase) {
            QString error;
            m_pattern = Pattern::make(plan.find, plan.replace, plan.options, &error);
            return; // (the plan was refused when the expression is wrong)
        }
        for (Charset charset : kCharsets) {
            m_find[size_t(charset)] = encode(plan.find, charset);
            m_replace[size_t(charset)] = encode(plan.replace, charset);
        }
        // New text goes into an ASCII file as GBK, the code page of this
        // program's files, or as UTF-8 when GBK lacks one of its characters.
        m_replace[size_t(Charset::Ascii)] =
            replacement(Charset::Gbk) ? replacement(Charset::Gbk) : replacement(Charset::Utf8);
        for (Charset charset : {Charset::Utf8, Charset::Gbk, Charset::Gb18030}) {
            if (find(charset) && std::find(m_forms.begin(), m_forms.end(), *find(charset)) == m_forms.end())
                m_forms.push_back(*find(charset));
        }
    }
    const std::optional<QByteArray> &find(Charset charset) const { return m_find[size_t(charset)]; }
    const std::optional<QByteArray> &replacement(Charset charset) const { return m_replace[size_t(charset)]; }
    // A search that is matched on the text, not on the bytes.
    const std::optional<Pattern> &pattern() const { return m_pattern; }
    bool literal() const { return !m_pattern; }
    // The fewest bytes a file holding the search text can have.
    qsizetype shortest() const
    {
        if (m_pattern)
            return 0;
        qsizetype fewest = std::numeric_limits<qsizetype>::max();
        for (Charset charset : kCharsets) {
            if (find(charset))
                fewest = std::min(fewest, find(charset)->size() + byte_order_mark(charset).size());
        }
        return fewest;
    }
    // True when the bytes may hold the search text: in the UTF-16 of a file
    // that begins with its mark (layout), in any other character set else.
    bool may_occur_in(QByteArrayView bytes, Charset layout) const
    {
        if (m_pattern)
            return true; // known only from the text
        if (is_utf16(layout))
            return find(layout) && bytes.contains(*find(layout));
        return std::any_of(m_forms.begin(), m_forms.end(),
                           [&](const QByteArray &form) { return bytes.contains(form); });
    }

private:
    std::array<std::optional<QByteArray>, std::size(kCharsets)> m_find, m_replace;
    std::vector<QByteArray> m_forms; // in UTF-8, GBK and GB18030, each once
    std::optional<Pattern> m_pattern;
};

// A file up to this size is read whole, once, and kept in memory between
// the steps; a larger one is read again for each, in pieces of whole lines
// (a line is held whole, a file is not).
constexpr qsizetype kKept = 16 << 20;

class Pieces
{
public:
    explicit Pieces(FileReader &reader) : m_reader(reader) {}
    // The whole file, read already.
    void keep_whole(QByteArray bytes)
    {
        m_kept = std::move(bytes);
        m_whole = true;
    }
    bool large() const { return !m_whole; }
    // Runs take on each piece in order while it returns true; false when the
    // file cannot be read, with *error set.
    bool each(const std::function<bool(const QByteArray &)> &take, QString *error)
    {
        if (m_whole) {
            take(m_kept);
            return true;
        }
        if (!m_reader.rewind(error))
            return false;
        LineChunks chunks(m_reader);
        for (QByteArray piece; chunks.next(&piece, error) && take(piece);) {
        }
        return !chunks.failed();
    }

private:
    FileReader &m_reader;
    QByteArray m_kept;
    bool m_whole = false; // m_kept is the whole file
};

// The bytes of new text in a file's character set: an ASCII file takes it
// in GBK, or in UTF-8 when GBK lacks one of its characters.
std::optional<QByteArray> encode_into(QStringView text, Charset charset)
{
    if (charset != Charset::Ascii)
        return encode(text, charset);
    std::optional<QByteArray> bytes = encode(text, Charset::Gbk);
    return bytes ? bytes : encode(text, Charset::Utf8);
}

// Replaces the pattern's matches in bytes of whole characters; the count,
// and the new bytes (when there were matches, and every one could be
// written: else *unwritable). Only text that reads back to its own bytes is
// replaced in, so that every other byte stays as it was.
int replace_in_text(QByteArrayView bytes, Charset charset, const Pattern &pattern, QByteArray *out,
                    bool *unwritable)
{
    const QString text = decode(bytes, charset, false);
    QString replaced;
    const int count = pattern.replace(text, &replaced);
    if (count <= 0)
        return count; // none, or kTooCostly
    const std::optional<QByteArray> before = encode_into(text, charset);
    const std::optional<QByteArray> after = encode_into(replaced, charset);
    if (!before || *before != bytes || !after) {
        *unwritable = true;
        return count;
    }
    if (out)
        *out = *after;
    return count;
}

// The same for a pattern, line by line (or the whole piece, for a pattern
// that names a line end): the line ends stay as they are.
int replace_pattern_in_piece(QByteArrayView piece, Charset charset, const Pattern &pattern, QByteArray *out,
                             bool *unwritable)
{
    if (pattern.spans_lines())
        return replace_in_text(piece, charset, pattern, out, unwritable);
    const qsizetype unit = is_utf16(charset) ? 2 : 1;
    const int low = charset == Charset::Utf16Be ? 1 : 0;
    auto end_at = [&](qsizetype i) { // the line end that begins at i, in bytes (0: none)
        if (i + unit > piece.size() || (unit == 2 && piece[i + 1 - low] != 0))
            return qsizetype(0);
        const char c = piece[i + low];
        if (c == '\n')
            return unit;
        if (c != '\r')
            return qsizetype(0);
        const bool lf = i + 2 * unit <= piece.size() && piece[i + unit + low] == '\n' &&
                        (unit == 1 || piece[i + unit + 1 - low] == 0);
        return lf ? 2 * unit : unit;
    };
    int count = 0;
    QByteArray result;
    qsizetype copied = 0;
    for (qsizetype start = 0, i = 0; start < piece.size();) {
        qsizetype ending = 0;
        while (i < piece.size() && (ending = end_at(i)) == 0)
            i += unit;
        QByteArray line;
        const int n = replace_in_text(piece.sliced(start, i - start), charset, pattern, out ? &line : nullptr,
                                      unwritable);
        if (n == Pattern::kTooCostly)
            return n;
        if (n > 0 && out && !*unwritable) {
            result.append(piece.sliced(copied, start - copied)).append(line);
            copied = i;
        }
        count += n;
        start = i = i + ending;
    }
    if (count > 0 && out && !*unwritable)
        *out = result.append(piece.sliced(copied));
    return count;
}

// The occurrences in one piece of a file in the given character set, and,
// with out, the piece with them replaced (when there are any). The byte-order
// mark that begins the file is never part of an occurrence.
int replace_in_piece(QByteArrayView piece, bool first, Charset charset, const Needles &needles,
                     QByteArray *out, bool *unwritable = nullptr)
{
    if (needles.pattern()) {
        const QByteArrayView mark = byte_order_mark(charset);
        const qsizetype skipped = first && piece.startsWith(mark) ? mark.size() : 0;
        bool cannot = false;
        const int count =
            replace_pattern_in_piece(piece.sliced(skipped), charset, *needles.pattern(), out, &cannot);
        if (unwritable)
            *unwritable = *unwritable || cannot;
        if (count > 0 && out && !cannot)
            out->prepend(piece.first(skipped));
        return count;
    }
    const std::optional<QByteArray> &find = needles.find(charset);
    if (!find)
        return 0;
    const QByteArrayView mark = byte_order_mark(charset);
    const qsizetype skipped = first && piece.startsWith(mark) ? mark.size() : 0;
    const int count = replace_in_bytes(piece.sliced(skipped), charset, *find,
                                       needles.replacement(charset).value_or(QByteArray()), out);
    if (count > 0 && out)
        out->prepend(piece.first(skipped));
    return count;
}

// What a replace does, or would do, to one file.
struct Rewrite
{
    int occurrences = 0;
    QString skipReason;
    std::unique_ptr<FileWriter> staged; // the new version, finished but not yet in place
    QByteArray kept;                    // the former version's name in the history
    QString leftover;                   // what putting it in place left in the folder
    bool handled = false;               // false when a stop came first
};

// The first step: whether the file may hold the search text, as the bytes of
// any character set it may be in. Most files do not, and are never decoded.
// A file too large to keep is read only up to its first candidate: the next
// steps read it again anyway.
bool may_hold(Pieces &pieces, const Needles &needles, Charset layout, bool *found, QString *error)
{
    *found = false;
    return pieces.each(
        [&](const QByteArray &piece) {
            *found = *found || needles.may_occur_in(piece, layout);
            return !*found || !pieces.large();
        },
        error);
}

// The second: how the file reads.
bool classify(Pieces &pieces, Guess *verdict, QString *error)
{
    CharsetGuess guess;
    const bool read = pieces.each(
        [&](const QByteArray &piece) {
            guess.feed(piece);
            return !guess.not_text();
        },
        error);
    *verdict = guess.verdict();
    return read;
}

struct Hits
{
    int occurrences = 0;
    bool changes = false;            // the new version differs from the file
    bool readingsDiffer = false;     // an ambiguous text would change differently in its two readings
    bool unwritable = false;         // the new text cannot be written in the file's character set
    bool tooCostly = false;          // an expression could not be matched to its end
    std::optional<QByteArray> whole; // the new version of a file kept whole, made on the way
};

// The third: the occurrences in the file as it reads. An ambiguous text is
// read both ways: its verdict matters only where the two differ.
bool count_hits(Pieces &pieces, const Guess &guess, const Needles &needles, Hits *hits, QString *error)
{
    const Charset charset = guess.charset, rival = guess.rival;
    const bool both = guess.kind == Guess::Kind::Ambiguous;
    bool first = true;
    const bool read = pieces.each(
        [&](const QByteArray &piece) {
            QByteArray mine, theirs;
            // (A pattern's replacement may give the text it replaces: looked at.)
            const bool compare = both || needles.pattern() || !pieces.large();
            const int count = replace_in_piece(piece, first, charset, needles, compare ? &mine : nullptr,
                                               &hits->unwritable);
            if (count == Pattern::kTooCostly)
                return !(hits->tooCostly = true);
            if (!pieces.large())
                hits->whole = count > 0 ? mine : piece;
            add_hits(hits->occurrences, count);
            if (needles.pattern() && count > 0 && mine != piece)
                hits->changes = true;
            if (both) {
                bool rivalUnwritable = false;
                const int other = replace_in_piece(piece, first, rival, needles, &theirs, &rivalUnwritable);
                if (other == Pattern::kTooCostly)
                    return !(hits->tooCostly = true);
                const bool unwritable = needles.literal() ? (count > 0 && !needles.replacement(charset)) ||
                                                                (other > 0 && !needles.replacement(rival))
                                                          : hits->unwritable || rivalUnwritable;
                hits->readingsDiffer = hits->readingsDiffer || other != count || mine != theirs || unwritable;
            }
            first = false;
            return true;
        },
        error);
    if (needles.literal())
        hits->changes = hits->occurrences > 0 && needles.find(charset) != needles.replacement(charset);
    return read;
}

// The last: the new version, written beside the file, finished but not yet
// in place. False when the file cannot be read; *written false when the
// new version could not be written.
bool stage(Pieces &pieces, Charset charset, const Needles &needles, FileWriter &staged, bool *written,
           QString *error)
{
    bool first = true;
    *written = true;
    return pieces.each(
        [&](const QByteArray &piece) {
            QByteArray replaced;
            const int count = replace_in_piece(piece, first, charset, needles, &replaced);
            first = false;
            if (count == Pattern::kTooCostly)
                *error = too_costly();
            *written = count != Pattern::kTooCostly && staged.write(count > 0 ? replaced : piece, error);
            return *written;
        },
        error);
}

// A large file, read once: its new version is written in the character set
// its first piece reads in while the rest is read, guessed and replaced.
// Anything but a plain result (text throughout in that character set, hits
// that can be written) leaves it to be read step by step after all.
enum class OnePass : quint8 { Written, Unchanged, StepByStep, Unreadable, Unwritten };

OnePass rewrite_in_one_pass(Pieces &pieces, const Needles &needles, FileWriter &staged, int *occurrences,
                            QString *error)
{
    CharsetGuess guess;
    std::optional<Charset> charset;
    bool first = true, plain = true, written = true, changes = false;
    *occurrences = 0;
    const bool read = pieces.each(
        [&](const QByteArray &piece) {
            guess.feed(piece);
            if (!charset) {
                const Guess start = guess.verdict();
                if (!start.is_text())
                    return plain = false;
                charset = start.charset;
            }
            QByteArray replaced;
            bool unwritable = false;
            const int count = replace_in_piece(piece, first, *charset, needles, &replaced, &unwritable);
            first = false;
            if (count == Pattern::kTooCostly)
                return plain = false;
            add_hits(*occurrences, count);
            changes = changes || (count > 0 && replaced != piece);
            if (unwritable)
                return plain = false;
            return written = staged.write(count > 0 ? replaced : piece, error);
        },
        error);
    if (!written)
        return OnePass::Unwritten;
    if (!read)
        return OnePass::Unreadable;
    const Guess whole = guess.verdict();
    if (!plain || !whole.is_text() || whole.charset != *charset ||
        (needles.literal() && !needles.replacement(*charset)))
        return OnePass::StepByStep;
    return changes ? OnePass::Written : OnePass::Unchanged;
}

// Reads the file a step at a time: whether it may hold the search text,
// how it reads, how often it holds it, and, to write, its new version.
// With a recorder, the former version is kept in the history first.
Rewrite rewrite(const Folder &folder, const Entry &file, const Needles &needles, RunRecorder *recorder,
                bool write)
{
    Rewrite result;
    if (file.stamp.size < needles.shortest())
        return result; // too small to hold the search text: not even opened
    QString error;
    FileReader reader;
    auto skip = [&](const QString &why) {
        result.occurrences = 0;
        result.skipReason = why + QStringLiteral("，未修改");
        result.staged.reset();
        return std::move(result);
    };
    auto unreadable = [&] { return skip(QStringLiteral("无法读取：%1").arg(error)); };
    if (!reader.open(folder, file.name.bytes, &file.stamp, &error))
        return reader.stamp().exists() ? skip(error) : unreadable(); // opened, but not as planned
    // A binary file is known from its start, and not read further. In
    // UTF-16, half the bytes of ASCII text are NUL.
    QByteArray head;
    if (reader.read_some(head, 64 * 1024, &error) < 0)
        return unreadable();
    const Charset layout = head.startsWith("\xFF\xFE")   ? Charset::Utf16Le
                           : head.startsWith("\xFE\xFF") ? Charset::Utf16Be
                                                         : Charset::Ascii;
    if (!is_utf16(layout) && head.contains('\0')) { // (UTF-16 without its mark among them)
        const bool holds = needles.may_occur_in(head, layout) ||
                           needles.may_occur_in(head, Charset::Utf16Le) ||
                           needles.may_occur_in(head, Charset::Utf16Be);
        return needles.literal() && holds ? skip(kNotTextReason) : std::move(result);
    }
    Pieces pieces(reader);
    if (reader.stamp().size <= kKept) {
        if (!reader.read_rest(head, &error))
            return unreadable();
        pieces.keep_whole(std::move(head));
    }

    bool found = false;
    if (!may_hold(pieces, needles, layout, &found, &error))
        return unreadable();
    if (!found)
        return result; // most files: nothing to do, nothing decoded
    if (write && pieces.large()) {
        auto staged = std::make_unique<FileWriter>();
        if (!staged->begin(folder, file.name.bytes, &file.stamp, &error))
            return skip(error);
        int occurrences = 0;
        switch (rewrite_in_one_pass(pieces, needles, *staged, &occurrences, &error)) {
        case OnePass::Unwritten:
            return skip(QStringLiteral("写入失败（%1）").arg(error));
        case OnePass::Unreadable:
            return unreadable();
        case OnePass::Unchanged:
            return result;
        case OnePass::StepByStep:
            break;
        case OnePass::Written:
            // The former version is the file that was read, kept before the new one takes its place.
            if (recorder && recorder->keeping() && !recorder->keep(reader, &result.kept, &error))
                return skip(error);
            if (!staged->finish(&error, false, &reader))
                return skip(QStringLiteral("写入失败（%1）").arg(error));
            result.occurrences = occurrences;
            result.staged = std::move(staged);
            return result;
        }
    }
    Guess guess;
    if (!classify(pieces, &guess, &error))
        return unreadable();
    if (guess.kind == Guess::Kind::NotText)
        return skip(guess.reason());
    Hits hits;
    if (!count_hits(pieces, guess, needles, &hits, &error))
        return unreadable();
    if (hits.tooCostly)
        return skip(too_costly());
    if (hits.readingsDiffer)
        return skip(guess.reason());
    if (!hits.changes)
        return result; // nothing would change
    if (hits.unwritable || (needles.literal() && !needles.replacement(guess.charset)))
        return skip(QStringLiteral("替换字符串中有该文件编码无法表示的字符"));
    result.occurrences = hits.occurrences;
    if (!write) {
        if (const QString why = folder.check_replaceable(file.name.bytes, file.stamp); !why.isEmpty())
            return skip(why);
        return result;
    }

    result.staged = std::make_unique<FileWriter>();
    if (!result.staged->begin(folder, file.name.bytes, &file.stamp, &error))
        return skip(error);
    if (recorder && recorder->keeping() && !recorder->keep(reader, &result.kept, &error))
        return skip(error);
    bool written = true;
    if (hits.whole)
        written = result.staged->write(*hits.whole, &error);
    else if (!stage(pieces, guess.charset, needles, *result.staged, &written, &error))
        return written ? unreadable() : skip(QStringLiteral("写入失败（%1）").arg(error));
    if (!written)
        return skip(QStringLiteral("写入失败（%1）").arg(error));
    if (!result.staged->finish(&error, false, &reader))
        return skip(QStringLiteral("写入失败（%1）").arg(error));
    return result;
}

// The same, for a file too large for the memory left: skipped, not a crash.
Rewrite rewrite_safely(const Folder &folder, const Entry &file, const Needles &needles, RunRecorder *recorder,
                       bool write)
{
    try {
        return rewrite(folder, file, needles, recorder, write);
    } catch (const std::bad_alloc &) {
        Rewrite result;
        result.skipReason = QStringLiteral("文件太大，内存不足，未修改");
        return result;
    }
}

} // namespace

std::vector<Hit> first_hits(const Folder &folder, const Entry &file, const Pattern &pattern, int most,
                            int context)
{
    std::vector<Hit> hits;
    FileReader reader;
    QString error;
    Charset charset = Charset::Ascii;
    if (!reader.open(folder, file.name.bytes, &file.stamp, &error) ||
        !scan_text_file(reader, &charset, &error))
        return hits;
    auto look_in = [&](const QString &text) {
        for (const Pattern::Match &m : pattern.matches(text, most - int(hits.size()))) {
            const qsizetype from = std::max<qsizetype>(0, m.start - context), end = m.start + m.length;
            const QString more = QStringLiteral("…");
            hits.push_back({(from > 0 ? more : QString()) + text.mid(from, m.start - from),
                            text.mid(m.start, m.length), m.replacement,
                            text.mid(end, context) + (end + context < text.size() ? more : QString())});
        }
    };
    auto take = [&](const QByteArray &piece, bool first) {
        const QString text = decode(piece, charset, first);
        if (pattern.spans_lines())
            look_in(text);
        else
            split_lines(text, [&](const QString &line) {
                if (int(hits.size()) < most)
                    look_in(line);
            });
    };
    // In pieces as the run reads it: a small file whole, a larger one in pieces of whole lines.
    QByteArray piece;
    if (reader.read_some(piece, 64 * 1024, &error) == reader.stamp().size) {
        take(piece, true);
        return hits;
    }
    if (!reader.rewind(&error))
        return hits;
    LineChunks chunks(reader);
    for (bool first = true; int(hits.size()) < most && chunks.next(&piece, &error); first = false)
        take(piece, first);
    return hits;
}

ReplacePlan plan_replace(const ReplaceParams &params, bool examineContents, const Progress &progress,
                         const StopRequest *stop)
{
    ReplacePlan plan;
    plan.find = params.find;
    plan.listChanges = params.listChanges;
    plan.replace = params.replace;
    Listing listing;
    if (!open_for_plan(params.dir, plan, listing, params.filter))
        return plan;
    plan.options = params.options;
    plan.parameters << QStringLiteral("查找字符串：%1").arg(params.find)
                    << QStringLiteral("替换字符串：%1").arg(params.replace);
    if (params.options.regex)
        plan.parameters << QStringLiteral("正则表达式");
    if (params.options.ignoreCase)
        plan.parameters << QStringLiteral("忽略大小写");
    if (params.options.regex || params.options.ignoreCase) {
        QString error;
        if (!Pattern::make(params.find, params.replace, params.options, &error)) {
            plan.refusal = error;
            return plan;
        }
    }
    if (plan.filter.active())
        plan.parameters << QStringLiteral("文件：%1").arg(plan.filter.describe());
    plan.files = std::move(listing.plain);
    plan.occurrences.assign(plan.files.size(), params.find.isEmpty() ? 0 : -1);
    // The former versions the run keeps: at most every file, known once each
    // is read. A folder whose files might not fit is read to know exactly.
    qint64 bytes = 0;
    for (const Entry &file : plan.files)
        bytes += file.stamp.size;
    if (params.history && !params.history->fits(bytes))
        examineContents = true;
    if (examineContents && !params.find.isEmpty()) {
        const Needles needles(plan);
        std::mutex mutex;
        const int count = int(plan.files.size());
        run_in_parallel(
            count,
            [&](int i) {
                if (stop && stop->load())
                    return;
                const Rewrite verdict =
                    rewrite_safely(*plan.folder, plan.files[size_t(i)], needles, nullptr, false);
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
        if (planning_stopped(plan, stop))
            return plan;
        bytes = 0;
        for (size_t i = 0; i < plan.files.size(); ++i)
            bytes += plan.occurrences[i] > 0 ? plan.files[i].stamp.size : 0;
    }
    plan_record(plan, params.history, params.requireUndo, bytes);
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
    std::unique_ptr<RunRecorder> recorder;
    if (!start_record(plan, QStringLiteral("replace"), plan.parameters, &recorder, report))
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
                batch[size_t(k)] = rewrite_safely(folder, file, needles, recorder.get(), true);
                batch[size_t(k)].handled = true;
            },
            [&](int n) { stepwise(first + n); });
        QString error;
        // The history has the former versions, and knows the new ones,
        // before any file of the batch is replaced.
        if (recorder) {
            for (int k = 0; k < count; ++k) {
                const Rewrite &r = batch[size_t(k)];
                const Entry &file = plan.files[size_t(first + k)];
                if (r.staged)
                    recorder->add({Change::Kind::Rewritten,
                                   file.name.bytes,
                                   {},
                                   r.kept,
                                   r.staged->new_stamp(),
                                   file.stamp,
                                   r.occurrences});
            }
            if (!recorder->commit(&error)) {
                for (Rewrite &r : batch) {
                    if (r.staged) {
                        r.staged.reset();
                        r.skipReason = QStringLiteral("%1，未修改").arg(error);
                    }
                }
            }
            error.clear();
        }
        const bool staged =
            std::any_of(batch.begin(), batch.end(), [](const Rewrite &r) { return bool(r.staged); });
        // (A folder made read-only meanwhile, the flush waiting, stops the batch.)
        const bool durable =
            !staged || (make_durable(
                            folder, batch, [](const Rewrite &r) { return r.staged.get(); }, &error) &&
                        (folder.check_writable().isEmpty() ||
                         (error = QStringLiteral("文件夹在处理期间被设为只读或不能写入"), false)));
        run_in_parallel(count,
                        [&](int k) {
                            Rewrite &r = batch[size_t(k)];
                            QString failure = error;
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
                if (plan.listChanges)
                    changes.insert(i, {Change::Kind::Rewritten,
                                       file.name.bytes,
                                       {},
                                       r.kept,
                                       r.staged->new_stamp(),
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
    if (recorder)
        recorder->finish(report.changed);
    if (handled < FileCount) {
        report.status = Report::Status::Stopped;
        report.message = QStringLiteral("操作已停止：已处理 %1 个文件，其余 %2 个文件未处理，保持原样。")
                             .arg(handled)
                             .arg(FileCount - handled);
    }
    return report;
}

} // namespace torvale
