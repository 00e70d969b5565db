// The writer: a new version gets exactly the permissions of the file it
// replaces, a new page those of its text; a file changed after the plan (a
// chmod included) or while it is swapped is left as the person left it; a
// file that is not provably ours is never removed; a move is checked by its
// result.

#include "testutil.h"

#include "files/folder.h"

#include <sys/stat.h>
#include <sys/xattr.h>

using namespace torvale;
using namespace testutil;

namespace {

QByteArray acl_of(const QByteArray &path)
{
    char value[1024];
    const ssize_t n = ::getxattr(path.constData(), "system.posix_acl_access", value, sizeof value);
    return n < 0 ? QByteArray() : QByteArray(value, int(n));
}

bool setfacl(const QStringList &arguments)
{
    return QProcess::execute("setfacl", arguments) == 0;
}

// Whether the user nobody may read the file.
bool nobody_reads(const QByteArray &path)
{
    return run_unprivileged([&] { return ::open(path.constData(), O_RDONLY) >= 0 ? 1 : 0; }) == 1;
}

mode_t mode_of(const QByteArray &path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

class TestWriter : public QObject
{
    Q_OBJECT

private slots:
    void permissions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("file"); // looked at afterwards
        QTest::addColumn<int>("mode");        // of a.txt, and of a.htm when it is there before
        QTest::addColumn<bool>("folderAcl");  // the folder's default list lets nobody read and write
        QTest::addColumn<bool>("textAcl");    // a.txt's own list lets nobody read
        QTest::addColumn<bool>("pageThere");  // a.htm is there before
        QTest::addColumn<int>("after");       // the file's mode afterwards (umask 022); -1: as before
        QTest::addColumn<bool>("nobodyReads");
        const QStringList replace{"replace", "DIR", "--find", "old", "--replace", "new"};
        const QStringList html{"html", "DIR", "--title", "T"};
        const QByteArray text("a.txt"), page("a.htm");
        QTest::newRow("rewrite in a folder with a default list")
            << replace << text << 0640 << true << false << false << -1 << false;
        QTest::newRow("rewrite keeps its own list")
            << replace << text << 0640 << true << true << false << -1 << true;
        QTest::newRow("replaced page") << html << page << 0600 << true << false << true << -1 << false;
        QTest::newRow("new page of a private text")
            << html << page << 0600 << false << false << false << 0600 << false;
        QTest::newRow("new page of a private text, default list")
            << html << page << 0600 << true << false << false << 0600 << false;
        QTest::newRow("new page of a text shared by its list")
            << html << page << 0600 << true << true << false << 0640 << true;
        QTest::newRow("new page of a shared text")
            << html << page << 0644 << false << false << false << 0644 << true;
        QTest::newRow("new index") << html << QByteArray("index.htm") << 0600 << false << false << false
                                   << 0644 << true;
    }
    void permissions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, file);
        QFETCH(int, mode);
        QFETCH(bool, folderAcl);
        QFETCH(bool, textAcl);
        QFETCH(bool, pageThere);
        QFETCH(int, after);
        QFETCH(bool, nobodyReads);
        TORVALE_REQUIRE(running_as_root(), "another user's view needs root");
        TempDir tmp;
        const QByteArray target = path_of(tmp.path(), file), text = path_of(tmp.path(), "a.txt");
        QCOMPARE(::chmod(QFile::encodeName(tmp.path()).constData(), 0755), 0);
        TORVALE_REQUIRE(!folderAcl || setfacl({"-d", "-m", "u:nobody:rw", tmp.path()}),
                        "no access lists here (setfacl, from the acl package)");
        for (const QByteArray name : {"a.txt", "a.htm"}) {
            if (name == "a.htm" && !pageThere)
                continue;
            write(tmp.path(), name, name == "a.txt" ? "old\r\n" : "page");
            QVERIFY(setfacl({"-b", QFile::decodeName(path_of(tmp.path(), name))})); // as made elsewhere
            QCOMPARE(::chmod(path_of(tmp.path(), name).constData(), mode_t(mode)), 0);
        }
        if (textAcl)
            QVERIFY(setfacl({"-m", "u:nobody:r", QFile::decodeName(text)}));
        const bool newPage = file == "a.htm" && !pageThere;
        const QByteArray aclAfter = newPage ? acl_of(text) : acl_of(target); // as the text's, or as before
        if (after < 0)
            after = int(mode_of(target));

        ::umask(022);
        arguments.replaceInStrings("DIR", tmp.path());
        QCOMPARE(cli(arguments).exitCode, 0);
        QCOMPARE(mode_of(target), mode_t(after));
        QCOMPARE(acl_of(target), aclAfter);
        QCOMPARE(nobody_reads(target), nobodyReads);
    }

    // A user rewriting a file of another owner (as its group allows) keeps
    // its access list: whom it denies stays denied.
    void rewriteByAnotherUserKeepsTheList()
    {
        TORVALE_REQUIRE(running_as_root(), "other users need root");
        TempDir tmp;
        const QByteArray file = path_of(tmp.path(), "a.txt");
        QCOMPARE(::chmod(QFile::encodeName(tmp.path()).constData(), 0777), 0);
        write(tmp.path(), QByteArray("a.txt"), "old");
        QCOMPARE(::chown(file.constData(), 0, 65534), 0);
        QCOMPARE(::chmod(file.constData(), 0664), 0);
        TORVALE_REQUIRE(setfacl({"-m", "u:daemon:---", QFile::decodeName(file)}), "no access lists here");
        const QByteArray acl = acl_of(file);
        QCOMPARE(QProcess::execute("setpriv",
                                   {"--reuid=65534", "--regid=65534", "--clear-groups", TORVALE_CLI,
                                    "replace", tmp.path(), "--find", "old", "--replace", "new", "--no-undo"}),
                 0);
        QCOMPARE(read(tmp.path(), QByteArray("a.txt")), "new");
        QCOMPARE(acl_of(file), acl);
    }

    // Between the plan (a preview) and the run, a file, a page, the index or
    // the folder is made read-only, or a file is edited without changing its
    // size: the run leaves it as it is and names it, also when it runs as root.
    void changedAfterThePlan_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QByteArray>("changed");
        QTest::addColumn<QString>("how");
        QTest::newRow("file made read-only") << "replace" << QByteArray("a.txt") << "chmod";
        QTest::newRow("file edited, same size") << "replace" << QByteArray("a.txt") << "edit";
        QTest::newRow("page made read-only") << "html" << QByteArray("a.htm") << "chmod";
        QTest::newRow("index made read-only") << "html" << QByteArray("index.htm") << "chmod";
        QTest::newRow("folder made read-only") << "replace" << QByteArray(".") << "chmod";
    }
    void changedAfterThePlan()
    {
        QFETCH(QString, operation);
        QFETCH(QByteArray, changed);
        QFETCH(QString, how);
        TempDir tmp;
        for (const char *name : {"a.txt", "a.htm", "index.htm"})
            write(tmp.path(), QByteArray(name), "old text");
        const ReplacePlan replacePlan = plan_replace({tmp.path(), "old", "new"});
        const ConvertPlan convertPlan = plan_convert({tmp.path(), "T"});
        const QByteArray path = path_of(tmp.path(), changed);
        if (how == "edit")
            write(tmp.path(), changed, "old TEXT");
        else
            QCOMPARE(::chmod(path.constData(), changed == "." ? 0555 : 0444), 0);
        const auto before = snapshot(tmp.path());

        const Report report =
            operation == "replace" ? apply_replace(replacePlan) : apply_convert(convertPlan);
        QCOMPARE(snapshot(tmp.path()).value(changed), before.value(changed));
        if (changed == ".") {
            QCOMPARE(report.status, Report::Status::Refused);
            QCOMPARE(snapshot(tmp.path()), before);
        } else {
            QVERIFY(std::any_of(report.problems.cbegin(), report.problems.cend(),
                                [&](const Problem &p) { return p.name == QString::fromLatin1(changed); }));
        }
        ::chmod(QFile::encodeName(tmp.path()).constData(), 0755);
    }

    // A file saved (written beside, renamed over) while the run swaps its
    // new version in stays where it landed, and the run says the file was
    // changed; a file moved onto a new page's name is not removed. The run is
    // held at the swap with strace while the test acts.
    void racesWithASave_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("hold"); // the strace injection that holds the run
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("held"); // what the name holds while the run waits
        const QStringList replace{"replace", "DIR", "--find", "old", "--replace", "new"};
        QTest::newRow("a save just before the swap")
            << replace << "inject=renameat2:delay_enter=1500000:when=2" << QByteArray("a.txt")
            << QByteArray("old");
        QTest::newRow("a save just after the swap") << replace << "inject=renameat2:delay_exit=1500000:when=2"
                                                    << QByteArray("a.txt") << QByteArray("new");
        QTest::newRow("a save while renaming over, without the swap")
            << replace << "inject=renameat2:error=EINVAL:delay_exit=1500000:when=2" << QByteArray("a.txt")
            << QByteArray("old");
        QTest::newRow("a file moved onto a new page")
            << QStringList{"html", "DIR", "--title", "T"} << "inject=renameat2:delay_exit=1500000:when=1"
            << QByteArray("a.htm") << QByteArray("<");
    }
    void racesWithASave()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, hold);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, held);
        TORVALE_REQUIRE(strace_works(), "strace cannot inject faults here (no ptrace)");
        TempDir tmp;
        write(tmp.path(), QByteArray("a.txt"), "old");
        arguments.replaceInStrings("DIR", tmp.path());
        QProcess process;
        start_cli(process, arguments, {"trace=renameat2", hold});
        auto holding = [&] { // at the swap: the new version under its swap name, or in place
            const auto now = snapshot(tmp.path());
            return now.value(name).startsWith(held) &&
                   (name != "a.txt" || now.lastKey().startsWith(".torvale-swap-") ||
                    now.firstKey().startsWith(".torvale-swap-"));
        };
        QTRY_VERIFY_WITH_TIMEOUT(holding(), 20000);
        write(tmp.path(), QByteArray("saved.tmp"), "saved by the person");
        QCOMPARE(
            ::rename(path_of(tmp.path(), "saved.tmp").constData(), path_of(tmp.path(), name).constData()), 0);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(QString::fromUtf8(process.readAllStandardError()).contains(u("被改动或替换")));
        auto after = snapshot(tmp.path());
        QCOMPARE(after.value(name), "saved by the person");
        after.removeIf([](const auto &it) { return !it.key().startsWith(".torvale"); });
        QCOMPARE(after.keys(), QList<QByteArray>()); // nothing of ours left behind
    }

    // An edit in place that keeps the file's size and time, made after the
    // run has read the file, is not overwritten with a new version made from
    // what it read: the file is named. The run is held just after its read.
    void editInPlaceAfterTheRead_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("kept in the history") << QStringList{};
        QTest::newRow("without a history") << QStringList{"--no-undo"};
    }
    void editInPlaceAfterTheRead()
    {
        QFETCH(QStringList, options);
        TORVALE_REQUIRE(strace_works(), "strace cannot inject faults here (no ptrace)");
        const QStringList arguments =
            QStringList{"replace", "DIR", "--find", "old", "--replace", "new"} + options;
        auto prepare = [](const QString &dir) { write(dir, QByteArray("a.txt"), "old text\n"); };
        const int when = call_number(prepare, arguments, "read", "old text");
        QVERIFY(when > 0);
        TempDir tmp;
        prepare(tmp.path());
        const QByteArray file = path_of(tmp.path(), "a.txt");
        struct stat before;
        QCOMPARE(::stat(file.constData(), &before), 0);
        QProcess process;
        start_cli(process, QStringList(arguments).replaceInStrings("DIR", tmp.path()),
                  {"trace=read", QString("inject=read:delay_exit=1500000:when=%1").arg(when)});
        auto readWhole = [&] { // the run's handle on a.txt has read it all
            QDir tasks(QString("/proc/%1/task").arg(process.processId()));
            for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                QFile children(tasks.filePath(task + "/children"));
                const QByteArray pid = children.open(QIODevice::ReadOnly) ? children.readAll().trimmed() : "";
                QDir fds("/proc/" + pid + "/fd");
                for (const QFileInfo &fd : fds.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
                    QFile info("/proc/" + pid + "/fdinfo/" + fd.fileName());
                    if (!pid.isEmpty() && fd.symLinkTarget() == QString::fromUtf8(file) &&
                        info.open(QIODevice::ReadOnly) && info.readLine().trimmed() == "pos:\t9")
                        return true;
                }
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(readWhole(), 20000);
        { // as rsync --inplace -t does: the same size, the old time
            QFile edit(QString::fromUtf8(file));
            QVERIFY(edit.open(QIODevice::ReadWrite) && edit.write("OLD") == 3);
        }
        const timespec times[2] = {before.st_atim, before.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, file.constData(), times, 0), 0);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(QString::fromUtf8(process.readAllStandardError()).contains(u("被改动或替换")));
        QCOMPARE(read(tmp.path(), QByteArray("a.txt")), "OLD text\n");
    }

    // A new name that appears as a hard link of the same file: renaming
    // between two links of one file does nothing, so the rename fails and
    // is put back instead of being counted as done.
    void hardLinkIsNoRename()
    {
        TempDir tmp;
        write(tmp.path(), QByteArray("a.txt"), "a");
        write(tmp.path(), QByteArray("b.txt"), "b");
        const RenamePlan plan = plan_rename({tmp.path(), "", "1"});
        QCOMPARE(::link(path_of(tmp.path(), "b.txt").constData(), path_of(tmp.path(), "2.txt").constData()),
                 0);
        const Report report = apply_rename(plan);
        QCOMPARE(report.status, Report::Status::Failed);
        QCOMPARE(report.changed, 0);
        QCOMPARE(snapshot(tmp.path()).keys(), (QList<QByteArray>{"2.txt", "a.txt", "b.txt"}));
    }
};

QTEST_GUILESS_MAIN(TestWriter)
#include "tst_writer.moc"
