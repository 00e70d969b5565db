// A run killed in the middle leaves every file old or new, never half-written
// and never missing, and the next run in the folder mends what was left. The
// kills land on chosen system calls spread over the whole run (with strace),
// so they test the same moments on every machine.

#include "testutil.h"

#include "files/folder.h"
#include "ops/journal.h"

using namespace testutil;

namespace {

// Every regular file of the folder by name, without the program's own
// unfinished writes and journal (which the next run removes).
QMap<QByteArray, QByteArray> user_files(const QString &dir)
{
    QMap<QByteArray, QByteArray> files = snapshot(dir);
    files.removeIf([](const auto &it) {
        return it.key().startsWith(".torvale-write-") || it.key().startsWith(".torvale-swap-") ||
               it.key() == torvale::kJournalName;
    });
    return files;
}

void add_kill_rows(QList<int> whens)
{
    QTest::addColumn<int>("when");
    for (int when : whens)
        QTest::addRow("killed at call %d", when) << when;
}

} // namespace

class TestCrash : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TORVALE_REQUIRE(strace_works(), "strace cannot inject faults here (no ptrace)"); }

    // 1.txt -> 2.txt, 2.txt -> 3.txt ...: every file but the last waits under
    // a temporary name, the case with the most to go wrong. The run makes
    // 6,000 renames: the journal, 2,999 parkings, one direct, 2,999 finals.
    void killedRename_data() { add_kill_rows({1, 2, 900, 2999, 3001, 3002, 4500, 6000}); }
    void killedRename()
    {
        QFETCH(int, when);
        TempDir tmp;
        const int count = 3000;
        for (int i = 1; i <= count; ++i)
            write(tmp.path(), QByteArray::number(i) + ".txt", QByteArray::number(i));
        const Run killed =
            cli({"rename", tmp.path(), "--start", "2"},
                {"trace=renameat2", QString("inject=renameat2:signal=SIGKILL:when=%1").arg(when)});
        QVERIFY2(killed.crashed, "the kill should land during the run");

        // Nothing lost: each content once, under some name.
        const auto files = user_files(tmp.path());
        QCOMPARE(QSet<QByteArray>(files.cbegin(), files.cend()).size(), count);
        QCOMPARE(files.size(), count);

        // The plan of the next run shows what the run does, recovery included.
        const Run dryRun = cli({"rename", tmp.path(), "--start", "1", "--prefix", "n", "--dry-run"});
        QCOMPARE(dryRun.exitCode, 0);
        const Run run = cli({"rename", tmp.path(), "--start", "1", "--prefix", "n"});
        QCOMPARE(run.exitCode, 0);
        QStringList moves = dryRun.out.split('\n', Qt::SkipEmptyParts);
        moves.removeIf([](const QString &line) { // removed, not moved; the summary
            return line.contains(u("临时文件")) || line.startsWith(u("预演"));
        });
        const int recovered = int(moves.filter(u("上次被中断的更名留下的文件")).size());
        QCOMPARE(moves.size() - recovered, count);
        QVERIFY2(run.out.contains(u("已更名 %1 个文件（共 %1 个）").arg(count)), qPrintable(run.out));
        if (recovered > 0)
            QVERIFY2(run.out.contains(u("留下的 %1 个文件已恢复").arg(recovered)), qPrintable(run.out));
        const auto after = snapshot(tmp.path());
        QCOMPARE(after.size(), count);
        QCOMPARE(QSet<QByteArray>(after.cbegin(), after.cend()),
                 QSet<QByteArray>(files.cbegin(), files.cend()));
        QVERIFY(after.contains("n1.txt") && after.contains("n3000.txt"));
    }

    // Each worker thread counts its own calls: the run has 400 files.
    void killedReplace_data() { add_kill_rows({1, 2, 20, 45, 80}); }
    void killedReplace()
    {
        QFETCH(int, when);
        TempDir tmp;
        const int count = 400;
        QByteArray old;
        for (int line = 0; line < 2000; ++line)
            old += gbk(u("第") + QString::number(line) + u("行 old 旧文本\r\n"));
        QByteArray changed = old;
        changed.replace("old", "new");
        for (int i = 0; i < count; ++i)
            write(tmp.path(), "f" + QByteArray::number(i) + ".txt", old);
        const QStringList arguments{"replace", tmp.path(), "--find", "old", "--replace", "new"};
        const Run killed =
            cli(arguments, {"trace=rename,renameat,renameat2",
                            QString("inject=rename,renameat,renameat2:signal=SIGKILL:when=%1").arg(when)});
        QVERIFY2(killed.crashed, "the kill should land during the run");

        const auto files = user_files(tmp.path());
        QCOMPARE(files.size(), count);
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            QVERIFY2(it.value() == old || it.value() == changed, it.key().constData());
        QCOMPARE(cli(arguments).exitCode, 0);
        const auto after = snapshot(tmp.path());
        QCOMPARE(after.size(), count); // the unfinished writes are gone
        for (const QByteArray &bytes : after)
            QCOMPARE(bytes, changed);
    }

    // A run killed while it swaps a new version in leaves one file under
    // the swap name: the new version, the planned file, or a file edited
    // during the run. The next run removes the first two; the third may be
    // the user's only copy of the edit, so it is kept and named, also when it
    // has since taken the new version's inode number, or is no file at all.
    // What someone else left in a shared folder is not the run's to remove.
    void leftInTheSwap_data()
    {
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<QByteArray>("left"); // a.txt afterwards
        QTest::addColumn<bool>("kept");       // the swap file stays
        QTest::newRow("the new version, never swapped in") << QByteArray("new") << QByteArray("old") << false;
        QTest::newRow("the planned file, swapped out") << QByteArray("planned") << QByteArray("new") << false;
        QTest::newRow("an edited file, swapped out") << QByteArray("edited") << QByteArray("new") << true;
        QTest::newRow("edited, with the new version's inode")
            << QByteArray("reused") << QByteArray("old") << true;
        QTest::newRow("a folder, swapped out") << QByteArray("folder") << QByteArray("new") << true;
        QTest::newRow("someone else's, shared folder") << QByteArray("stranger") << QByteArray("old") << true;
    }
    void leftInTheSwap()
    {
        QFETCH(QByteArray, state);
        QFETCH(QByteArray, left);
        QFETCH(bool, kept);
        TempDir tmp;
        write(tmp.path(), QByteArray("a.txt"), "old");
        write(tmp.path(), QByteArray("new"), "new");
        struct stat planned, ours;
        QCOMPARE(::stat(path_of(tmp.path(), "a.txt").constData(), &planned), 0);
        QCOMPARE(::stat(path_of(tmp.path(), "new").constData(), &ours), 0);
        auto identity = [](const struct stat &st) {
            torvale::Stamp s;
            s.kind = torvale::Stamp::Kind::Regular;
            s.inode = st.st_ino;
            s.size = st.st_size;
            s.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
            return s;
        };
        const QByteArray swapName = torvale::SwapName::for_files(identity(ours), identity(planned)).bytes();
        const QByteArray swap = path_of(tmp.path(), swapName);
        if (state == "edited")
            write(tmp.path(), QByteArray("a.txt"), "old, edited"); // the same file, other bytes
        if (state == "reused")
            write(tmp.path(), QByteArray("new"), "new, edited");
        if (state == "folder") {
            QCOMPARE(
                ::rename(path_of(tmp.path(), "a.txt").constData(), path_of(tmp.path(), "b.txt").constData()),
                0);
            QVERIFY(QDir(tmp.path()).mkdir("a.txt"));
        }
        if (state == "new" || state == "reused" || state == "stranger") {
            QCOMPARE(::rename(path_of(tmp.path(), "new").constData(), swap.constData()), 0);
        } else {
            QCOMPARE(::rename(path_of(tmp.path(), "a.txt").constData(), swap.constData()), 0);
            QCOMPARE(
                ::rename(path_of(tmp.path(), "new").constData(), path_of(tmp.path(), "a.txt").constData()),
                0);
        }
        TORVALE_REQUIRE(!(state == "stranger" &&
                          (::chown(swap.constData(), 65534, 65534) != 0 ||
                           ::chown(tmp.path().toUtf8().constData(), 0, 0) != 0 || ::getuid() != 0)),
                        "files of another owner need root");
        if (state == "stranger")
            QCOMPARE(::chmod(tmp.path().toUtf8().constData(), 01777), 0);

        const Run run = cli({"replace", tmp.path(), "--find", "zzz", "--replace", "y"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out.contains(swapName), kept); // named, also when not ours to remove
        const auto after = snapshot(tmp.path());
        QCOMPARE(after.value("a.txt"), left);
        QCOMPARE(after.contains(swapName), kept);
        QCOMPARE(after.size(), (kept ? 2 : 1) + (state == "folder"));
    }
};

QTEST_GUILESS_MAIN(TestCrash)
#include "tst_crash.moc"
