#include "history.h"

#include "files/appendfile.h"
#include "files/filewriter.h"
#include "files/keepcopy.h"

#include <QRandomGenerator>

#include <algorithm>
#include <charconv>

#include <unistd.h>

namespace torvale {

namespace {

// The record of a run is lines of fields separated by spaces, names and
// texts percent-encoded:
//   torvale-history 1
//   folder DEV INODE PATH BIRTH
//   operation rename|replace|html
//   time 2026-12-07T12:00:00.000Z
//   parameter TEXT               (each, as shown)
//   undoable yes|no
//   R NAME OLD-NAME STAMP        a file renamed from OLD-NAME (STAMP: the file)
//   W NAME KEPT BEFORE AFTER     a file replaced; KEPT: its former version
//   C NAME AFTER                 a file made
//   done                         the run ended
//   restored NAME STAMP          an undo put the file back; it is STAMP now
//   undone [NAME...]             taken back, but for the files named
// A line cut short by a kill (the last, or one another line was added to
// after) is passed over.
const QByteArray kMagic = "torvale-history 1";
const QByteArray kRecord = "record";
const QByteArray kLimit = "limit";
const QByteArray kSize = "size"; // the room a run takes, written when it ends
constexpr qint64 kDefaultLimit = qint64(2) << 30;
constexpr qsizetype kHeaderBytes = 4096; // a record's header lies within this

QByteArray encoded(const QByteArray &bytes)
{
    // Most names need no escape at all: kept as they are, without a copy.
    const bool plain = std::all_of(bytes.begin(), bytes.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
               c == '-' || c == '_' || c == '~';
    });
    return bytes.isEmpty() ? QByteArray("%") : plain ? bytes : bytes.toPercentEncoding();
}

QByteArray decoded(const QByteArray &field)
{
    return field == "%" ? QByteArray() : QByteArray::fromPercentEncoding(field);
}

QByteArray stamp_field(const Stamp &s)
{
    char buffer[6 * 21];
    char *at = buffer;
    for (const qint64 v :
         {qint64(s.kind), qint64(s.mode), qint64(s.device), qint64(s.inode), s.size, s.modifiedNs}) {
        if (at != buffer)
            *at++ = ':';
        at = std::to_chars(at, buffer + sizeof buffer, v).ptr;
    }
    return QByteArray(buffer, int(at - buffer));
}

bool parse_stamp(const QByteArray &field, Stamp *s)
{
    const QList<QByteArray> parts = field.split(':');
    if (parts.size() != 6)
        return false;
    qint64 v[6];
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        v[i] = parts[i].toLongLong(&ok);
        if (!ok)
            return false;
    }
    if (v[0] < 0 || v[0] > qint64(Stamp::Kind::Other))
        return false;
    *s = {Stamp::Kind(v[0]), quint32(v[1]), quint64(v[2]), quint64(v[3]), v[4], v[5]};
    return true;
}

bool change_name_ok(const QByteArray &name)
{
    return is_plain_name(name) && !name.startsWith('.');
}

// One line of a change; false when it is not one.
bool parse_change(const QList<QByteArray> &f, Change *c)
{
    const QByteArray &key = f.first();
    if (key == "R" && f.size() == 4 && parse_stamp(f[3], &c->after)) {
        *c = {Change::Kind::Renamed, decoded(f[1]), decoded(f[2]), {}, c->after};
        return change_name_ok(c->name) && change_name_ok(c->oldName);
    }
    if (key == "W" && f.size() == 5 && parse_stamp(f[3], &c->before) && parse_stamp(f[4], &c->after)) {
        c->kind = Change::Kind::Rewritten;
        c->name = decoded(f[1]);
        c->backup = decoded(f[2]);
        return change_name_ok(c->name) && is_plain_name(c->backup) && c->backup != kRecord &&
               c->backup != kSize;
    }
    if (key == "C" && f.size() == 3 && parse_stamp(f[2], &c->after)) {
        c->kind = Change::Kind::Created;
        c->name = decoded(f[1]);
        return change_name_ok(c->name);
    }
    return false;
}

// Reads a record (the changes only with changes: counting them is enough
// to list a run of another folder). False when it is not one.
bool parse_record(const QByteArray &text, HistoryRun *run, bool changes = true)
{
    QList<QByteArray> lines = text.split('\n');
    lines.removeLast(); // what follows the last line end: empty, or cut short
    if (lines.isEmpty() || lines.first() != kMagic)
        return false;
    bool folder = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> f = lines[i].split(' ');
        const QByteArray &key = f.first();
        Change c;
        Stamp s;
        if (key == "R" || key == "W" || key == "C") {
            if (!changes)
                run->changes.append(Change());
            else if (parse_change(f, &c))
                run->changes << c;
        } else if (key == "folder" && (f.size() == 4 || f.size() == 5)) {
            run->folderIdentity = {f[1].toULongLong(), f[2].toULongLong()};
            run->folderPath = decoded(f[3]);
            run->folderBirth = f.size() == 5 ? f[4].toLongLong() : 0;
            folder = true;
        } else if (key == "operation" && f.size() == 2) {
            run->operation = QString::fromLatin1(f[1]);
        } else if (key == "time" && f.size() == 2) {
            run->time = QDateTime::fromString(QString::fromLatin1(f[1]), Qt::ISODateWithMs);
        } else if (key == "parameter" && f.size() == 2) {
            run->parameters << QString::fromUtf8(decoded(f[1]));
        } else if (key == "undoable" && f.size() == 2) {
            run->undoable = f[1] == "yes";
        } else if (key == "done" && f.size() == 1) {
            run->state = run->state == HistoryRun::State::Running ? HistoryRun::State::Done : run->state;
        } else if (key == "restored" && f.size() == 3 && parse_stamp(f[2], &s)) {
            run->restored.insert(decoded(f[1]), s);
        } else if (key == "undone") {
            run->state = HistoryRun::State::Undone;
            run->notRestored.clear();
            for (qsizetype k = 1; k < f.size(); ++k)
                run->notRestored << QString::fromUtf8(decoded(f[k]));
        } // anything else is a line cut short: passed over
    }
    return folder && !run->operation.isEmpty() && run->time.isValid();
}

// Where the history lives: $XDG_STATE_HOME, when it is an absolute path,
// else ~/.local/state, whose folders are made (private) when missing, but
// only in a home of this user's own: root running with someone's HOME does
// not leave folders there that the owner cannot use.
std::shared_ptr<Folder> state_home(QString *error)
{
    const QByteArray xdg = qgetenv("XDG_STATE_HOME");
    if (xdg.startsWith('/'))
        return Folder::open(xdg, error, false);
    const QByteArray home = qgetenv("HOME");
    if (!home.startsWith('/')) {
        *error = QStringLiteral("不知道主文件夹在哪里（没有设置 HOME）");
        return nullptr;
    }
    std::shared_ptr<Folder> folder = Folder::open(home, error, false);
    QString ownership;
    const bool own = folder && folder->make_private(&ownership, false);
    for (const char *name : {".local", "state"}) {
        if (folder)
            folder = folder->open_folder(name, own, error);
    }
    if (!folder && !own && !ownership.isEmpty())
        *error = ownership;
    return folder;
}

// The number that orders a run: the one its name begins with.
qint64 run_number(const QByteArray &id)
{
    return id.left(id.indexOf('-')).toLongLong();
}

// The room a run takes: as it wrote it when it ended, or counted from its
// files (a run killed, or still going on).
qint64 run_bytes(const Folder &run)
{
    QByteArray text;
    QString error;
    Stamp stamp;
    if (run.look_up(kSize, &stamp, &error) && stamp.is_regular() && stamp.size < 32 &&
        read_file(run, kSize, &stamp, &text, &error)) {
        bool ok = false;
        const qint64 bytes = text.trimmed().toLongLong(&ok);
        if (ok && bytes >= 0)
            return bytes;
    }
    std::vector<Entry> files;
    qint64 bytes = 0;
    if (run.entries(&files, &error)) {
        for (const Entry &f : files)
            bytes += f.stamp.size;
    }
    return bytes;
}

// The runs' folders, oldest first, with the room each takes.
std::vector<std::pair<QByteArray, qint64>> run_sizes(const Folder &history)
{
    std::vector<std::pair<QByteArray, qint64>> all;
    std::vector<Entry> entries;
    QString error;
    if (!history.entries(&entries, &error))
        return all;
    for (const Entry &entry : entries) {
        if (entry.stamp.kind != Stamp::Kind::Directory || entry.hidden())
            continue;
        if (const std::shared_ptr<Folder> run = history.open_folder(entry.name.bytes, false, &error))
            all.push_back({entry.name.bytes, run_bytes(*run)});
    }
    std::sort(all.begin(), all.end(), [](const auto &a, const auto &b) {
        return run_number(a.first) != run_number(b.first) ? run_number(a.first) < run_number(b.first)
                                                          : a.first < b.first;
    });
    return all;
}

} // namespace

std::shared_ptr<History> History::open(QString *error)
{
    const std::shared_ptr<Folder> home = state_home(error);
    if (!home) {
        *error = QStringLiteral("无法使用撤销历史：%1").arg(*error);
        return nullptr;
    }
    return open_at(home->native_path(), error);
}

std::shared_ptr<History> History::open_at(const NativePath &stateHome, QString *error)
{
    const std::shared_ptr<Folder> home = Folder::open(stateHome, error, false);
    std::shared_ptr<Folder> folder = home ? home->open_folder("torvale", true, error) : nullptr;
    if (!folder || !folder->make_private(error)) {
        *error = QStringLiteral("无法使用撤销历史：%1").arg(*error);
        return nullptr;
    }
    return std::shared_ptr<History>(new History(std::move(folder)));
}

qint64 History::limit() const
{
    QByteArray text;
    QString error;
    Stamp stamp;
    if (m_folder->look_up(kLimit, &stamp, &error) && stamp.is_regular() && stamp.size < 64 &&
        read_file(*m_folder, kLimit, &stamp, &text, &error)) {
        bool ok = false;
        const qint64 set = text.trimmed().toLongLong(&ok);
        if (ok && set > 0) // 0 is no limit of its own: the default
            return set;
    }
    const qint64 free = m_folder->free_space();
    return free < 0 ? kDefaultLimit : std::min(kDefaultLimit, free / 10);
}

bool History::set_limit(qint64 bytes, QString *error)
{
    const Stamp old = m_folder->stamp(kLimit);
    return save_file(*m_folder, kLimit, old.exists() ? &old : nullptr, QByteArray::number(bytes) + '\n',
                     error);
}

std::vector<HistoryRun> History::runs(const Folder *folder) const
{
    std::vector<HistoryRun> runs;
    std::vector<Entry> entries;
    QString error;
    if (!m_folder->entries(&entries, &error))
        return runs;
    // A folder is known by where it is, its identity and its birth: one made
    // later in the place of a removed one (even with its inode number) is another.
    const auto identity = folder ? folder->identity() : std::pair<quint64, quint64>();
    const QByteArray path = folder ? folder->real_path() : QByteArray();
    const qint64 birth = folder ? folder->birth_ns() : 0;
    for (const Entry &entry : entries) {
        if (entry.stamp.kind != Stamp::Kind::Directory || entry.hidden())
            continue;
        const std::shared_ptr<Folder> run = m_folder->open_folder(entry.name.bytes, false, &error);
        FileReader reader;
        QByteArray text;
        HistoryRun parsed;
        // The header first: the rest only of the runs of this folder.
        if (!run || !reader.open(*run, kRecord, nullptr, &error) ||
            reader.read_some(text, kHeaderBytes, &error) < 0 || !parse_record(text, &parsed, false))
            continue;
        if (folder && (parsed.folderIdentity != identity || parsed.folderPath != path ||
                       (parsed.folderBirth != 0 && birth != 0 && parsed.folderBirth != birth)))
            continue;
        parsed = HistoryRun();
        if (!reader.read_rest(text, &error) || !parse_record(text, &parsed))
            continue;
        parsed.id = entry.name.bytes;
        parsed.bytes = run_bytes(*run);
        runs.push_back(std::move(parsed));
    }
    std::sort(runs.begin(), runs.end(), [](const HistoryRun &a, const HistoryRun &b) {
        return run_number(a.id) != run_number(b.id) ? run_number(a.id) > run_number(b.id) : a.id > b.id;
    });
    return runs;
}

std::unique_ptr<RunRecorder> History::start(const Folder &folder, const QString &operation,
                                            const QStringList &parameters, bool undoable, QString *error)
{
    // The runs are numbered in the order they start, whatever the clock
    // says: the number is taken with the history to itself.
    const std::optional<FolderLock> historyLock = FolderLock::take(*m_folder, error, true);
    if (!historyLock)
        return nullptr;
    std::unique_ptr<RunRecorder> recorder(new RunRecorder);
    recorder->m_others = run_sizes(*m_folder);
    for (const auto &other : recorder->m_others)
        recorder->m_othersBytes += other.second;
    recorder->m_limit = limit();
    const qint64 number = recorder->m_others.empty() ? 1 : run_number(recorder->m_others.back().first) + 1;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QByteArray id =
        QByteArray::number(number).rightJustified(12, '0') + '-' +
        now.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz-")).toLatin1() +
        QByteArray::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, '0');
    recorder->m_history = m_folder;
    recorder->m_id = id;
    recorder->m_undoable = undoable;
    recorder->m_run = m_folder->open_folder(id, true, error);
    recorder->m_record = std::make_unique<AppendFile>();
    if (recorder->m_run) {
        if (std::optional<FolderLock> lock = FolderLock::take(*recorder->m_run, error))
            recorder->m_lock.emplace(std::move(*lock));
    }
    const auto identity = folder.identity();
    QByteArray header = kMagic + "\nfolder " + QByteArray::number(identity.first) + ' ' +
                        QByteArray::number(identity.second) + ' ' + encoded(folder.real_path()) + ' ' +
                        QByteArray::number(folder.birth_ns()) + "\noperation " + operation.toLatin1() +
                        "\ntime " + now.toString(Qt::ISODateWithMs).toLatin1() + '\n';
    for (const QString &p : parameters)
        header += "parameter " + encoded(p.toUtf8()) + '\n';
    header += undoable ? "undoable yes\n" : "undoable no\n";
    if (!recorder->m_lock || !recorder->m_record->create(*recorder->m_run, kRecord, error) ||
        !recorder->m_record->append(header, error)) {
        *error = QStringLiteral("无法记入撤销历史：%1").arg(*error);
        recorder->m_record.reset();
        recorder->m_lock.reset();
        recorder->m_run.reset();
        QString ignored;
        m_folder->remove_tree(id, &ignored);
        return nullptr;
    }
    return recorder;
}

std::shared_ptr<Folder> History::kept_files(const HistoryRun &run, QString *error) const
{
    return m_folder->open_folder(run.id, false, error);
}

bool History::mark_restored(const HistoryRun &run, const QHash<QByteArray, Stamp> &restored, QString *error)
{
    if (restored.isEmpty())
        return true;
    QByteArray lines;
    for (auto it = restored.cbegin(); it != restored.cend(); ++it)
        lines += "restored " + encoded(it.key()) + ' ' + stamp_field(it.value()) + '\n';
    const std::shared_ptr<Folder> folder = m_folder->open_folder(run.id, false, error);
    AppendFile record;
    return folder && record.open(*folder, kRecord, error) && record.append(lines, error);
}

bool History::mark_undone(const HistoryRun &run, const QStringList &notRestored, QString *error)
{
    const std::shared_ptr<Folder> folder = m_folder->open_folder(run.id, false, error);
    AppendFile record;
    QByteArray line = "undone";
    for (const QString &name : notRestored)
        line += ' ' + encoded(name.toUtf8());
    return folder && record.open(*folder, kRecord, error) && record.append(line + '\n', error);
}

bool History::clear(int *kept, QString *error)
{
    *kept = 0;
    bool cleared = true;
    for (const auto &[id, bytes] : run_sizes(*m_folder)) {
        // Every run's folder, its record readable or not; not one going on.
        const std::shared_ptr<Folder> run = m_folder->open_folder(id, false, error);
        const std::optional<FolderLock> lock = run ? FolderLock::take(*run, error) : std::nullopt;
        if (!lock)
            ++*kept;
        else
            cleared = m_folder->remove_tree(id, error) && cleared;
    }
    return cleared;
}

RunRecorder::~RunRecorder()
{
    // A run that ended without finish (an exception, say) keeps its record:
    // what it did may need taking back.
}

bool RunRecorder::keep(FileReader &file, QByteArray *id, QString *error)
{
    if (!m_undoable) {
        *error = QStringLiteral("此次操作不保存文件原来的内容");
        return false;
    }
    const qint64 size = file.stamp().size;
    {
        // Room for it, made by dropping the oldest runs (one going on stays).
        QMutexLocker lock(&m_mutex);
        while (!m_others.empty() && m_othersBytes + m_keptBytes + size > m_limit) {
            const auto [oldest, bytes] = m_others.front();
            m_others.erase(m_others.begin());
            QString ignored;
            const std::shared_ptr<Folder> run = m_history->open_folder(oldest, false, &ignored);
            const std::optional<FolderLock> runLock = run ? FolderLock::take(*run, &ignored) : std::nullopt;
            if (runLock && m_history->remove_tree(oldest, &ignored))
                m_othersBytes -= bytes;
        }
    }
    *id = QByteArray::number(++m_kept);
    bool linked = false;
    if (!keep_copy(file, *m_run, *id, &linked, error)) {
        *error = QStringLiteral("无法在撤销历史中保存文件原来的内容（%1）").arg(*error);
        return false;
    }
    m_keptBytes += size;
    if (!linked)
        ++m_copies;
    return true;
}

void RunRecorder::add(const Change &change)
{
    QByteArray line;
    switch (change.kind) {
    case Change::Kind::Renamed:
        line = "R " + encoded(change.name) + ' ' + encoded(change.oldName) + ' ' + stamp_field(change.after);
        break;
    case Change::Kind::Rewritten:
        line = "W " + encoded(change.name) + ' ' + encoded(change.backup) + ' ' + stamp_field(change.before) +
               ' ' + stamp_field(change.after);
        break;
    case Change::Kind::Created:
        line = "C " + encoded(change.name) + ' ' + stamp_field(change.after);
        break;
    }
    QMutexLocker lock(&m_mutex);
    m_pending += line + '\n';
}

bool RunRecorder::commit(QString *error)
{
    QMutexLocker lock(&m_mutex);
    if (m_failed) {
        *error = QStringLiteral("撤销历史无法写入");
        return false;
    }
    if (m_pending.isEmpty())
        return true;
    // The former versions first, as the record names them: a copy's bytes
    // go to disk with its file system's flush; a hard link is an entry of
    // the run's folder, made durable with it.
    const bool kept = m_copies > 0 ? m_run->sync_all(error) : m_kept == 0 || m_run->sync(error);
    if (!kept || !m_record->append(m_pending, error)) {
        m_failed = true; // a record cut short is not added to
        *error = QStringLiteral("无法记入撤销历史（%1）").arg(*error);
        return false;
    }
    m_pending.clear();
    return true;
}

void RunRecorder::finish(int changed)
{
    QString error;
    if (changed == 0) {
        m_record.reset();
        m_lock.reset();
        m_run.reset();
        m_history->remove_tree(m_id, &error);
        return;
    }
    if (!m_failed)
        m_record->append("done\n", &error);
    // The room the run takes: its former versions and its record.
    const Stamp record = m_run->stamp(kRecord);
    save_file(*m_run, kSize, nullptr, QByteArray::number(qint64(m_keptBytes) + record.size) + '\n', &error,
              false);
}

} // namespace torvale
