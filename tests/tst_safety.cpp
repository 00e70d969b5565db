// A folder is untrusted input and a disk can fill up: journals written by
// someone else, links that appear after the plan or during a write, a folder
// swapped under a run, two runs at once, and a full disk.

#include "testutil.h"

#include "ops/convert.h"
#include "ops/journal.h"
#include "ops/rename.h"
#include "ops/replace.h"
#include "ops/undo.h"

using namespace torvale;
using namespace testutil;

namespace {

const QByteArray kParked = ".torvale-rename-0123456789abcdef.tmp";

QByteArray journal_line(const QByteArray &temporary, const QByteArray &from, const QByteArray &to)
{
    return journal_text({{temporary, from, to}});
}

} // namespace

class TestSafety : public QObject
{
    Q_OBJECT

private slots:
    // A journal that the program could not have written stops the rename
    // before anything moves; a sound one brings the parked file back.
    void journals_data()
    {
        QTest::addColumn<QString>("kind"); // what stands at the journal's name
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("refused");
        const QByteArray sound = journal_line(kParked, "back.txt", "new.txt");
        QTest::newRow("sound journal") << "file" << sound << false;
        QTest::newRow("another user's, in a shared folder") << "stranger" << sound << false;
        QTest::newRow("a link to a journal") << "link" << sound << true;
        QTest::newRow("a folder") << "dir" << QByteArray() << true;
        QTest::newRow("a FIFO") << "fifo" << QByteArray() << true;
        QTest::newRow("traversal, encoded")
            << "file" << journal_line(kParked, "../victim.txt", "b.txt") << true;
        QTest::newRow("absolute path") << "file" << journal_line(kParked, "b.txt", "/tmp/x.txt") << true;
        QTest::newRow("dot-dot as the new name") << "file" << journal_line(kParked, "b.txt", "..") << true;
        QTest::newRow("a user's file as the temporary")
            << "file" << journal_line("a.txt", "b.txt", "c.txt") << true;
        QTest::newRow("a hidden name") << "file" << journal_line(kParked, ".bashrc", "c.txt") << true;
        QTest::newRow("not a journal") << "file" << QByteArray("hello world\n") << true;
        QTest::newRow("a name twice") << "file" << sound + journal_line(kParked, "c.txt", "d.txt") << true;
    }
    void journals()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, text);
        QFETCH(bool, refused);
        TempDir tmp, outside;
        write(tmp.path(), QByteArray("a.txt"), "a");
        write(tmp.path(), kParked, "parked");
        write(outside.path(), QByteArray("victim.txt"), "victim");
        const QByteArray journal = path_of(tmp.path(), kJournalName);
        if (kind == "file" || kind == "stranger") {
            write(tmp.path(), kJournalName, text);
        } else if (kind == "link") {
            write(outside.path(), kJournalName, text);
            QCOMPARE(::symlink(path_of(outside.path(), kJournalName).constData(), journal.constData()), 0);
        } else if (kind == "dir") {
            QCOMPARE(::mkdir(journal.constData(), 0755), 0);
        } else {
            QCOMPARE(::mkfifo(journal.constData(), 0644), 0);
        }
        if (kind == "stranger") // not this run's to mend, nor to remove
            QVERIFY(::chmod(QFile::encodeName(tmp.path()).constData(), 01777) == 0 &&
                    ::chown(journal.constData(), 65534, 65534) == 0 &&
                    ::chown(path_of(tmp.path(), kParked).constData(), 65534, 65534) == 0);
        const auto before = snapshot(tmp.path());
        const auto outsideBefore = snapshot(outside.path());

        const Report report = run_rename({tmp.path(), "n", "1", 0});
        QCOMPARE(snapshot(outside.path()), outsideBefore);
        if (refused) {
            QCOMPARE(report.status, Report::Status::Refused);
            QVERIFY2(report.message.contains(kJournalName) && report.message.contains(u("删除")),
                     qPrintable(report.message));
            QCOMPARE(snapshot(tmp.path()), before);
        } else if (kind == "stranger") {
            QVERIFY2(report.ok() && report.notes.join(' ').contains(kJournalName),
                     qPrintable(report.message));
            QCOMPARE(snapshot(tmp.path()), (QMap<QByteArray, QByteArray>{
                                               {kParked, "parked"}, {kJournalName, text}, {"n1.txt", "a"}}));
        } else {
            QVERIFY2(report.ok(), qPrintable(report.message));
            QCOMPARE(snapshot(tmp.path()),
                     (QMap<QByteArray, QByteArray>{{"n1.txt", "a"}, {"n2.txt", "parked"}}));
        }
    }

    // Hidden files of the program's own patterns: a finished write that a
    // killed run left is removed; a parked file that no journal names is a
    // user's file like any other hidden one and blocks nothing.
    void ownFilesLeftBehind()
    {
        TempDir tmp;
        write(tmp.path(), QByteArray("a.txt"), "a");
        write(tmp.path(), QByteArray(".torvale-write-00000000000000ff.tmp"), "half a page");
        write(tmp.path(), QByteArray(".torvale-write-mine.tmp"), "mine");
        write(tmp.path(), kParked, "mine too");
        QVERIFY(run_rename({tmp.path(), "n", "1", 0}).ok());
        QCOMPARE(snapshot(tmp.path()),
                 (QMap<QByteArray, QByteArray>{
                     {".torvale-write-mine.tmp", "mine"}, {kParked, "mine too"}, {"n1.txt", "a"}}));
    }

    // A link that appears where a file will be written, after the plan, is
    // never written through: the file it points to stays as it was.
    void linkAppearsAfterThePlan_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("a file to rewrite") << QByteArray("a.txt");
        QTest::newRow("a new page") << QByteArray("a.htm");
        QTest::newRow("the index") << QByteArray("index.htm");
    }
    void linkAppearsAfterThePlan()
    {
        QFETCH(QByteArray, name);
        TempDir tmp, outside;
        write(tmp.path(), QByteArray("a.txt"), "old");
        write(outside.path(), QByteArray("victim"), "old");
        const ReplacePlan replace = plan_replace({tmp.path(), "old", "new"});
        const ConvertPlan convert = plan_convert({tmp.path(), "T"});
        ::unlink(path_of(tmp.path(), name).constData());
        QCOMPARE(
            ::symlink(path_of(outside.path(), "victim").constData(), path_of(tmp.path(), name).constData()),
            0);
        const Report report = name == "a.txt" ? apply_replace(replace) : apply_convert(convert);
        QCOMPARE(read(outside.path(), QByteArray("victim")), "old");
        QCOMPARE(report.problems.size(), 1);
        QCOMPARE(report.problems[0].name, QString::fromLatin1(name));
    }

    // The same while the file is being written: its new version is made and
    // waits for the flush to disk when the file, or the new version, is
    // swapped for a link, or the file is edited. The file keeps what it holds.
    void changedDuringTheWrite_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QByteArray>("left"); // what a.txt holds afterwards, or where it links
        QTest::addColumn<QString>("said");
        const QString changed = u("被改动或替换");
        QTest::newRow("the file becomes a link") << "link a.txt" << QByteArray("link:") << changed;
        QTest::newRow("the file is edited") << "edit a.txt" << QByteArray("old, edited") << changed;
        QTest::newRow("the file is edited, its time kept")
            << "touch a.txt" << QByteArray("old, edited") << changed;
        QTest::newRow("the new version becomes a link") << "link new" << QByteArray("old") << changed;
        QTest::newRow("the file is made read-only") << "chmod a.txt" << QByteArray("old") << changed;
        QTest::newRow("the file's access list changes") << "acl a.txt" << QByteArray("old") << changed;
        QTest::newRow("the folder is made read-only") << "chmod ." << QByteArray("old") << u("只读");
    }
    void changedDuringTheWrite()
    {
        QFETCH(QString, change);
        QFETCH(QByteArray, left);
        QFETCH(QString, said);
        TORVALE_REQUIRE(strace_works(), "strace cannot inject faults here (no ptrace)");
        TempDir tmp, outside;
        write(tmp.path(), QByteArray("a.txt"), "old");
        write(outside.path(), QByteArray("victim"), "old");
        QProcess process;
        process.start("strace", {"-f", "-qq", "-o", "/dev/null", "-e", "trace=fsync", "-e",
                                 "inject=fsync:delay_enter=4000000:when=1", TORVALE_CLI, "replace",
                                 tmp.path(), "--find", "old", "--replace", "new", "--no-undo"});
        QTRY_VERIFY_WITH_TIMEOUT(snapshot(tmp.path()).size() == 2, 20000);
        const QByteArray victim = path_of(outside.path(), "victim");
        QByteArray target = path_of(tmp.path(), "a.txt");
        if (change == "link new")
            target = path_of(tmp.path(), snapshot(tmp.path()).firstKey()); // the hidden new version
        struct stat before;
        QCOMPARE(::stat(target.constData(), &before), 0);
        if (change == "edit a.txt" || change == "touch a.txt") {
            write(tmp.path(), QByteArray("a.txt"), "old, edited");
            const struct timespec times[2] = {before.st_atim, before.st_mtim};
            if (change == "touch a.txt") // as tools do that keep a file's time
                QCOMPARE(::utimensat(AT_FDCWD, target.constData(), times, 0), 0);
        } else if (change.startsWith("chmod")) {
            QCOMPARE(
                ::chmod(change.endsWith('.') ? QFile::encodeName(tmp.path()).constData() : target.constData(),
                        change.endsWith('.') ? 0555 : 0444),
                0);
        } else if (change == "acl a.txt") {
            QCOMPARE(QProcess::execute("setfacl", {"-m", "u:nobody:---", QFile::decodeName(target)}), 0);
        } else {
            QCOMPARE(::unlink(target.constData()), 0);
            QCOMPARE(::symlink(victim.constData(), target.constData()), 0);
        }
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(QString::fromUtf8(process.readAllStandardError()).contains(said));
        QCOMPARE(read(outside.path(), QByteArray("victim")), "old");
        QVERIFY(snapshot(tmp.path()).value("a.txt").startsWith(left));
        QCOMPARE(snapshot(tmp.path()).size(), change == "link new" ? 2 : 1); // theirs stays, ours went
    }

    void fifoAppearsAfterThePlan()
    {
        TempDir tmp;
        write(tmp.path(), QByteArray("a.txt"), "old");
        const ReplacePlan plan = plan_replace({tmp.path(), "old", "new"});
        const QByteArray fifo = path_of(tmp.path(), "a.txt");
        QCOMPARE(::unlink(fifo.constData()), 0);
        QCOMPARE(::mkfifo(fifo.constData(), 0644), 0);
        const pid_t writer = ::fork(); // waits for a reader
        if (writer == 0)
            ::_exit(::open(fifo.constData(), O_WRONLY) >= 0 ? 0 : 1);
        const Report report = apply_replace(plan);
        int status = 0;
        const pid_t waited = ::waitpid(writer, &status, WNOHANG);
        ::kill(writer, SIGKILL);
        ::waitpid(writer, &status, 0);
        QCOMPARE(waited, 0); // still waiting: nobody opened the FIFO
        QCOMPARE(report.problems.size(), 1);
    }

    // A folder whose name is GBK bytes, as the window's tree shows it (the
    // bad bytes as U+FFFD), is found again by its bytes; never another folder.
    void folderNamedInGbk()
    {
        TempDir tmp;
        const QByteArray gbkName = path_of(tmp.path(), gbk(u("中文")));
        QCOMPARE(::mkdir(gbkName.constData(), 0755), 0);
        const QString shown = QFile::decodeName(gbkName);
        QVERIFY(shown.contains(QChar::ReplacementCharacter));
        QCOMPARE(NativePath(shown).bytes, gbkName);
        QVERIFY(QDir().mkdir(shown)); // another folder that shows the same
        QVERIFY(!NativePath(shown).error.isEmpty());
    }

    // The folder is held from the plan on: swapped for a link to another
    // folder, the run still works in the folder that was planned.
    void folderSwappedAfterThePlan()
    {
        TempDir parent, other;
        const QString dir = parent.path() + "/work";
        QVERIFY(QDir().mkdir(dir));
        write(dir, QByteArray("a.txt"), "old");
        write(other.path(), QByteArray("a.txt"), "old");
        const ReplacePlan plan = plan_replace({dir, "old", "new"});
        QVERIFY(QDir().rename(dir, parent.path() + "/moved"));
        QVERIFY(QFile::link(other.path(), dir));
        QVERIFY(apply_replace(plan).ok());
        QCOMPARE(read(other.path(), QByteArray("a.txt")), "old");
        QCOMPARE(read(parent.path() + "/moved", QByteArray("a.txt")), "new");
    }

    // The guard judges where the folder really is before anything, recovery
    // included, happens there.
    void systemFolderIsRefusedFirst()
    {
        TORVALE_REQUIRE(QFileInfo(QStringLiteral("/dev/shm")).isWritable(), "no /dev/shm here");
        TempDir tmp(QStringLiteral("/dev/shm/torvale-XXXXXX"));
        write(tmp.path(), kParked, "parked");
        write(tmp.path(), kJournalName, journal_line(kParked, "back.txt", "new.txt"));
        const auto before = snapshot(tmp.path());
        const Report report = run_rename({tmp.path(), "n", "1", 0});
        QCOMPARE(report.status, Report::Status::Refused);
        QVERIFY(report.message.contains("/dev"));
        QCOMPARE(snapshot(tmp.path()), before);
    }

    // A fault at one system call of a run: a listing that cannot look at a
    // file or read the folder changes nothing and says so; an interrupted
    // call is made again; a failed check or flush is a failure that names
    // the file; what could not be removed is named. Each fault lands on the
    // call found by a run of the same command on a folder made the same way.
    void faultAtOneCall_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("syscall");
        QTest::addColumn<QString>("needle"); // in the line of the call; empty: the first call
        QTest::addColumn<int>("occurrence");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("files"); // in the folder: 1.txt, and 2.txt
        // "name:bytes" of the plain files afterwards ("<" for a page); empty: unchanged
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<int>("leftovers");                        // hidden files left
        QTest::addColumn<QString>("also");                         // a second fault, as strace's -e takes it
        const QStringList rename{"rename", "DIR", "--start", "2"}; // 1 -> 2 waits: a journal
        const QStringList renameApart{"rename", "DIR", "--start", "3"};
        const QStringList replace{"replace", "DIR", "--find", "old", "--replace", "new"};
        const QStringList html{"html", "DIR", "--title", "T"};
        const QStringList renamed{"2.txt:one old", "3.txt:two old"},
            replaced{"1.txt:one new", "2.txt:two new"};
        QTest::newRow("listing, a stat fails: rename")
            << rename << "newfstatat"
            << "\"2.txt\"" << 1 << "error=EIO" << 1 << "2.txt" << 2 << QStringList() << 0 << QString();
        QTest::newRow("listing, a stat fails: replace")
            << replace << "newfstatat"
            << "\"2.txt\"" << 1 << "error=EIO" << 1 << u("磁盘读写出错") << 2 << QStringList() << 0
            << QString();
        QTest::newRow("listing, a stat fails: html")
            << html << "newfstatat"
            << "\"2.txt\"" << 1 << "error=EIO" << 1 << "2.txt" << 2 << QStringList() << 0 << QString();
        QTest::newRow("listing, the folder cannot be read")
            << html << "getdents64"
            << "" << 1 << "error=EIO" << 1 << u("无法读取文件夹") << 2 << QStringList() << 0 << QString();
        QTest::newRow("listing, the folder cannot be rewound")
            << replace << "lseek"
            << "" << 1 << "error=EIO" << 1 << u("无法读取文件夹") << 2 << QStringList() << 0 << QString();
        QTest::newRow("an interrupted rename is made again")
            << rename << "renameat2"
            << "" << 1 << "error=EINTR" << 0 << u("已更名 2 个文件") << 2 << renamed << 0 << QString();
        QTest::newRow("an interrupted open is made again")
            << replace << "openat"
            << ".torvale-write" << 1 << "error=EINTR" << 0 << "" << 1 << QStringList{"1.txt:one new"} << 0
            << QString();
        QTest::newRow("the check before the swap fails")
            << replace << "newfstatat"
            << "\"1.txt\"" << 3 << "error=EIO" << 1 << u("磁盘读写出错") << 1 << QStringList() << 0
            << QString();
        QTest::newRow("the check after the swap fails")
            << replace << "newfstatat"
            << "\"1.txt\"" << 4 << "error=EIO" << 1 << u("无法确认") << 1 << QStringList{"1.txt:one new"} << 1
            << QString();
        // The fsyncs of a replace: the history's folder, each new version (a
        // few one by one), the folder; of html: each page, the index, the folder.
        QTest::newRow("the batch's flush fails")
            << replace << "fsync"
            << "" << 2 << "error=EIO" << 1 << u("磁盘读写出错") << 1 << QStringList() << 0 << QString();
        QTest::newRow("the index's flush fails")
            << html << "fsync"
            << "" << 3 << "error=EIO" << 1 << "index.htm" << 2
            << QStringList{"1.htm:<", "1.txt:one old", "2.htm:<", "2.txt:two old"} << 0 << QString();
        QTest::newRow("the folder's flush fails: rename")
            << renameApart << "fsync"
            << "" << 1 << "error=EIO" << 1 << u("磁盘读写出错") << 2
            << QStringList{"3.txt:one old", "4.txt:two old"} << 0 << QString();
        QTest::newRow("the folder's flush fails: replace")
            << replace << "fsync"
            << "" << 4 << "error=EIO" << 1 << u("修改了 2 个文件，替换 2 处（共 2 个文件），跳过 0 个") << 2
            << replaced << 0 << QString();
        QTest::newRow("the journal cannot be removed") << rename << "unlinkat"
                                                       << ".torvale-rename.journal" << 1 << "error=EIO" << 0
                                                       << u("更名记录") << 2 << renamed << 1 << QString();
        QTest::newRow("the former version cannot be removed")
            << replace << "unlinkat"
            << ".torvale-swap" << 1 << "error=EIO" << 0 << u("原来的版本留在隐藏文件") << 1
            << QStringList{"1.txt:one new"} << 1 << QString();
        QTest::newRow("a parked file fails its check and cannot go back")
            << rename << "newfstatat"
            << ".torvale-rename-" << 1 << "error=EIO" << 1 << u("未能恢复原名") << 2
            << QStringList{"2.txt:two old"} << 2 << QString("inject=renameat2:error=EIO:when=3");
        QTest::newRow("the pages' flush fails: no index")
            << html << "fsync"
            << "" << 1 << "error=EIO" << 1 << "index.htm" << 2 << QStringList() << 0 << QString();
        QTest::newRow("no swap on this file system") << replace << "renameat2"
                                                     << "RENAME_EXCHANGE" << 1 << "error=EINVAL" << 0 << ""
                                                     << 1 << QStringList{"1.txt:one new"} << 0 << QString();
    }
    void faultAtOneCall()
    {
        QFETCH(QString, also);
        QFETCH(QStringList, arguments);
        QFETCH(QString, syscall);
        QFETCH(QString, needle);
        QFETCH(int, occurrence);
        QFETCH(QString, fault);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QFETCH(int, files);
        QFETCH(QStringList, after);
        QFETCH(int, leftovers);
        TORVALE_REQUIRE(strace_works(), "strace cannot inject faults here (no ptrace)");
        // A fault in a worker thread needs a single file: each worker counts its own calls.
        auto prepare = [files](const QString &dir) {
            write(dir, QByteArray("1.txt"), "one old");
            if (files > 1)
                write(dir, QByteArray("2.txt"), "two old");
        };
        const int when = call_number(prepare, arguments, syscall, needle, occurrence);
        QVERIFY2(when > 0, "the call should be made");
        TempDir tmp;
        prepare(tmp.path());
        const auto before = snapshot(tmp.path());
        arguments.replaceInStrings("DIR", tmp.path());
        QStringList faults{"trace=" + syscall, QString("inject=%1:%2:when=%3").arg(syscall, fault).arg(when)};
        if (!also.isEmpty())
            faults << "trace=" + syscall + "," + also.section('=', 1).section(':', 0, 0) << also;
        const Run run = cli(arguments, faults);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2((run.out + run.err).contains(said), qPrintable(run.out + run.err));
        auto now = snapshot(tmp.path());
        const qsizetype hidden = now.removeIf([](const auto &it) { return it.key().startsWith('.'); });
        QCOMPARE(hidden, leftovers);
        QStringList files_after;
        for (auto it = now.cbegin(); it != now.cend(); ++it)
            files_after << it.key() + ':' + (it.value().startsWith('<') ? QByteArray("<") : it.value());
        if (after.isEmpty())
            QCOMPARE(now, before);
        else
            QCOMPARE(files_after, after);
    }

    // Files that an interrupted rename left under temporary names come back
    // before any operation does anything else, also one whose own plan is
    // refused, and take part in the run.
    void parkedFilesComeBackFirst_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QList<QByteArray>>("names"); // afterwards
        QTest::newRow("replace") << "replace" << QList<QByteArray>{"a.txt", "back.txt"};
        QTest::newRow("html") << "html"
                              << QList<QByteArray>{"a.htm", "a.txt", "back.htm", "back.txt", "index.htm"};
        QTest::newRow("rename refused at planning") << "rename" << QList<QByteArray>{"a.txt", "back.txt"};
    }
    void parkedFilesComeBackFirst()
    {
        QFETCH(QString, operation);
        QFETCH(QList<QByteArray>, names);
        TempDir tmp;
        write(tmp.path(), QByteArray("a.txt"), "old");
        write(tmp.path(), kParked, "parked old");
        write(tmp.path(), kJournalName, journal_line(kParked, "back.txt", "new.txt"));
        const Report report = operation == "replace" ? run_replace({tmp.path(), "old", "new"})
                              : operation == "html"  ? run_convert({tmp.path(), "T"})
                                                     : run_rename({tmp.path(), "a/b", "1"});
        QVERIFY2(report.notes.join(' ').contains(u("已恢复")), qPrintable(report.notes.join(' ')));
        QCOMPARE(report.status, operation == "rename" ? Report::Status::Refused : Report::Status::Done);
        QCOMPARE(snapshot(tmp.path()).keys(), names);
        QCOMPARE(read(tmp.path(), QByteArray("back.txt")),
                 operation == "replace" ? "parked new" : "parked old");
    }

    void secondRunIsRefused()
    {
        TempDir tmp;
        write(tmp.path(), QByteArray("a.txt"), "old");
        QString error;
        const auto other = Folder::open(tmp.path(), &error);
        const std::optional<FolderLock> lock = FolderLock::take(*other, &error);
        QVERIFY(lock);
        const Report report = run_replace({tmp.path(), "old", "new"});
        QCOMPARE(report.status, Report::Status::Refused);
        QVERIFY(report.message.contains(u("另一个")));
        QCOMPARE(read(tmp.path(), QByteArray("a.txt")), "old");
    }

    // A full disk: every file keeps its bytes, the run says why and fails.
    void fullDisk_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("where"); // the disk holds: the folder, or the history
        QTest::newRow("replace") << QStringList{"replace", "DIR", "--find", "old", "--replace", "new"}
                                 << "folder";
        QTest::newRow("html") << QStringList{"html", "DIR", "--title", "T"} << "folder";
        QTest::newRow("rename's journal") << QStringList{"rename", "DIR", "--start", "2"} << "folder";
        QTest::newRow("the history, undo required")
            << QStringList{"replace", "DIR", "--find", "old", "--replace", "new", "--require-undo"}
            << "history";
        QTest::newRow("undo") << QStringList{"undo", "DIR"} << "folder";
    }
    void fullDisk()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, where);
        SmallDisk disk;
        TORVALE_REQUIRE(disk.mounted, "cannot mount a small file system here (no right to mount)");
        TempDir elsewhere, state;
        const QString dir = where == "history" ? elsewhere.path() : disk.path();
        const QString stateHome = where == "history" ? disk.path() : state.path();
        write(dir, QByteArray("1.txt"), "old\r\n");
        write(dir, QByteArray("2.txt"), "old");
        if (arguments.first() == "undo")
            QCOMPARE(cli({"replace", dir, "--find", "old", "--replace", "new"}, {}, stateHome).exitCode, 0);
        QVERIFY(QDir().mkpath(stateHome + "/torvale"));
        disk.fill();
        const auto before = snapshot(dir);
        arguments.replaceInStrings("DIR", dir);
        const Run run = cli(arguments, {}, stateHome);
        QCOMPARE(run.exitCode, 1);
        // (A full history is not even tried: a tenth of no room is no room.)
        QVERIFY2(run.err.contains(where == "history" ? u("无法撤销") : u("磁盘已满")), qPrintable(run.err));
        QCOMPARE(snapshot(dir), before);
    }
};

QTEST_GUILESS_MAIN(TestSafety)
#include "tst_safety.moc"
