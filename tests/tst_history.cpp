// The undo history outlives the program: a run is taken back by a later
// process, several steps deep; what changed since is left alone and named;
// a run killed half-way is taken back for its part; the history is private,
// bounded, and never follows a link.

#include "testutil.h"

using namespace testutil;

namespace {

QMap<QByteArray, QByteArray> numbered_files(const QString &dir, int count)
{
    for (int i = 1; i <= count; ++i)
        write(dir, QByteArray::number(i) + ".txt", "old " + QByteArray::number(i));
    return snapshot(dir);
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private slots:
    // Each operation is taken back by a later run of torvale-cli.
    void takenBackByALaterProcess_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("rename") << QStringList{"rename", "DIR", "--start", "2", "--prefix", "p"};
        QTest::newRow("replace") << QStringList{"replace", "DIR", "--find", "old", "--replace", "new"};
        QTest::newRow("html") << QStringList{"html", "DIR", "--title", "T"};
    }
    void takenBackByALaterProcess()
    {
        QFETCH(QStringList, arguments);
        TempDir tmp, state;
        const auto before = numbered_files(tmp.path(), 3);
        write(tmp.path(), QByteArray("1.htm"), "a page that the conversion replaces");
        write(tmp.path(), QByteArray("large.dat"), QByteArray("an old line\n").repeated(1500000)); // 18 MB
        const auto withPage = snapshot(tmp.path());
        arguments.replaceInStrings("DIR", tmp.path());
        QCOMPARE(cli(arguments, {}, state.path()).exitCode, 0);
        QVERIFY(snapshot(tmp.path()) != withPage);
        const Run dryRun = cli({"undo", tmp.path(), "--dry-run"}, {}, state.path());
        QCOMPARE(dryRun.exitCode, 0);
        const Run undo = cli({"undo", tmp.path()}, {}, state.path());
        QVERIFY2(undo.exitCode == 0, qPrintable(undo.out + undo.err));
        QCOMPARE(snapshot(tmp.path()), withPage);
        QVERIFY(before.size() == 3);
        QCOMPARE(cli({"undo", tmp.path()}, {}, state.path()).exitCode, 1); // nothing more to take back
    }

    // Two runs are taken back in two steps, newest first; a run that changed
    // nothing is no step.
    void stepByStep()
    {
        TempDir tmp, state;
        const auto original = numbered_files(tmp.path(), 3);
        QCOMPARE(cli({"rename", tmp.path(), "--start", "1", "--prefix", "a"}, {}, state.path()).exitCode, 0);
        const auto first = snapshot(tmp.path());
        QCOMPARE(cli({"rename", tmp.path(), "--start", "1", "--prefix", "b"}, {}, state.path()).exitCode, 0);
        QCOMPARE(cli({"rename", tmp.path(), "--start", "1", "--prefix", "b"}, {}, state.path()).exitCode, 0);
        const Run history = cli({"history", tmp.path()}, {}, state.path());
        QCOMPARE(history.out.count(u("文件更名")), 2);
        QCOMPARE(cli({"undo", tmp.path()}, {}, state.path()).exitCode, 0);
        QCOMPARE(snapshot(tmp.path()), first);
        QCOMPARE(cli({"undo", tmp.path()}, {}, state.path()).exitCode, 0);
        QCOMPARE(snapshot(tmp.path()), original);
    }

    // Two runs that changed the same file are taken back one after the
    // other: a file an undo restored counts as the run before left it.
    void stacked_data()
    {
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<QStringList>("second");
        const QStringList replace{"replace", "DIR", "--find", "old", "--replace", "new"};
        const QStringList html{"html", "DIR", "--title", "T"};
        QTest::newRow("replace, replace")
            << replace << QStringList{"replace", "DIR", "--find", "1", "--replace", "x"};
        QTest::newRow("html, html") << html << QStringList{"html", "DIR", "--title", "U"};
        QTest::newRow("rename, replace") << QStringList{"rename", "DIR", "--start", "5"} << replace;
        QTest::newRow("replace, rename") << replace << QStringList{"rename", "DIR", "--start", "5"};
    }
    void stacked()
    {
        QFETCH(QStringList, first);
        QFETCH(QStringList, second);
        TempDir tmp, state;
        const auto original = numbered_files(tmp.path(), 2);
        for (QStringList run : {first, second})
            QCOMPARE(cli(run.replaceInStrings("DIR", tmp.path()), {}, state.path()).exitCode, 0);
        for (int step = 0; step < 2; ++step) {
            const Run undo = cli({"undo", tmp.path()}, {}, state.path());
            QVERIFY2(undo.exitCode == 0, qPrintable(undo.out + undo.err));
        }
        QCOMPARE(snapshot(tmp.path()), original);
    }

    // The history's own troubles: an undo that failed for a passing reason
    // can be made again; a record cut short is still read (and added to); a
    // kept version changed through a hard link elsewhere is not put back; a
    // folder made anew in the place of one removed has no runs; a run that
    // changed nothing drops no older run to make room.
    void troubles_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::newRow("the disk is full at first") << "eio";
        QTest::newRow("a record cut short") << "cut";
        QTest::newRow("the kept version changed through a link") << "link";
        QTest::newRow("the folder made anew") << "anew";
        QTest::newRow("a run that changes nothing") << "nothing";
    }
    void troubles()
    {
        QFETCH(QString, trouble);
        TempDir tmp, state, elsewhere;
        const auto original = numbered_files(tmp.path(), 1);
        const QByteArray file = path_of(tmp.path(), "1.txt");
        if (trouble == "link")
            QCOMPARE(::link(file.constData(), path_of(elsewhere.path(), "alias").constData()), 0);
        if (trouble == "nothing") // room for the first run and the second's folder, not both
            QCOMPARE(cli({"history", "--limit", "3100"}, {}, state.path()).exitCode, 0);
        QCOMPARE(cli({"replace", tmp.path(), "--find", "old", "--replace", "new"}, {}, state.path()).exitCode,
                 0);
        QDir runs(state.path() + "/torvale");
        const QString record =
            runs.filePath(runs.entryList(QDir::Dirs | QDir::NoDotAndDotDot).value(0) + "/record");
        if (trouble == "cut")
            QVERIFY(QFile::resize(record, QFileInfo(record).size() - 3)); // "done" cut short
        if (trouble == "link")
            write(elsewhere.path(), QByteArray("alias"), "changed elsewhere");
        if (trouble == "anew") {
            QVERIFY(QDir(tmp.path()).removeRecursively() && QDir().mkpath(tmp.path()));
            QCOMPARE(cli({"undo", tmp.path()}, {}, state.path()).exitCode, 1);
            return;
        }
        if (trouble == "nothing") {
            write(elsewhere.path(), QByteArray("big.txt"), QByteArray(3000, 'x'));
            QCOMPARE(cli({"replace", elsewhere.path(), "--find", "none", "--replace", "y"}, {}, state.path())
                         .exitCode,
                     0);
        }
        if (trouble == "eio") {
            const Run failed =
                cli({"undo", tmp.path()}, {"trace=fsync", "inject=fsync:error=ENOSPC:when=1"}, state.path());
            QVERIFY(failed.exitCode != 0);
        }
        const Run undo = cli({"undo", tmp.path()}, {}, state.path());
        QCOMPARE(undo.exitCode, trouble == "link" ? 1 : 0);
        QCOMPARE(snapshot(tmp.path()) == original, trouble != "link");
        QVERIFY(trouble != "cut" || cli({"history", tmp.path()}, {}, state.path()).out.contains(u("已撤销")));
    }

    // A file changed since the run is left alone and named; the others go back.
    void changedSinceIsLeftAlone()
    {
        TempDir tmp, state;
        numbered_files(tmp.path(), 3);
        QCOMPARE(cli({"rename", tmp.path(), "--start", "1", "--prefix", "a"}, {}, state.path()).exitCode, 0);
        write(tmp.path(), QByteArray("a2.txt"), "edited");
        const Run undo = cli({"undo", tmp.path()}, {}, state.path());
        QCOMPARE(undo.exitCode, 1);
        QVERIFY2(undo.err.contains("a2.txt"), qPrintable(undo.err));
        QCOMPARE(snapshot(tmp.path()).keys(), (QList<QByteArray>{"1.txt", "3.txt", "a2.txt"}));
        QVERIFY(cli({"history", tmp.path()}, {}, state.path()).out.contains(u("1 个文件未能恢复")));
    }

    // A rename killed half-way is taken back for the part it did.
    void killedRunTakenBack()
    {
        TORVALE_REQUIRE(strace_works(), "strace cannot inject faults here (no ptrace)");
        TempDir tmp, state;
        const auto original = numbered_files(tmp.path(), 200);
        const Run killed = cli({"rename", tmp.path(), "--start", "2"},
                               {"trace=renameat2", "inject=renameat2:signal=SIGKILL:when=250"}, state.path());
        QVERIFY(killed.crashed);
        const Run undo = cli({"undo", tmp.path()}, {}, state.path());
        QVERIFY2(undo.exitCode == 0, qPrintable(undo.out + undo.err));
        QCOMPARE(snapshot(tmp.path()), original);
    }

    // The history keeps at most its limit: the oldest runs go first; a run
    // whose former versions alone would not fit says so before it starts,
    // and with --require-undo does not start.
    void bounded()
    {
        TempDir tmp, state;
        write(tmp.path(), QByteArray("a.txt"), QByteArray(3000, 'a'));
        write(tmp.path(), QByteArray("b.txt"), QByteArray(3000, 'b'));
        QCOMPARE(cli({"history", "--limit", "4K"}, {}, state.path()).exitCode, 0);
        QCOMPARE(cli({"replace", tmp.path(), "--find", "a", "--replace", "x"}, {}, state.path()).exitCode, 0);
        QCOMPARE(cli({"replace", tmp.path(), "--find", "b", "--replace", "y"}, {}, state.path()).exitCode, 0);
        const Run history = cli({"history", tmp.path()}, {}, state.path());
        QCOMPARE(history.out.count(u("查找替换")), 1); // the first went to make room
        QVERIFY(history.out.contains(u("查找字符串：b")));

        write(tmp.path(), QByteArray("c.txt"), QByteArray(5000, 'c'));
        const QStringList tooLarge{"replace", tmp.path(), "--find", "c", "--replace", "z"};
        const Run refused = cli(tooLarge + QStringList{"--require-undo"}, {}, state.path());
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.err.contains(u("此次操作将无法撤销")), qPrintable(refused.err));
        QCOMPARE(read(tmp.path(), QByteArray("c.txt")), QByteArray(5000, 'c'));
        const Run told = cli(tooLarge, {}, state.path());
        QCOMPARE(told.exitCode, 0);
        QVERIFY(told.err.contains(u("此次操作将无法撤销")));
        QCOMPARE(read(tmp.path(), QByteArray("c.txt")), QByteArray(5000, 'z'));
        // --limit 0 goes back to the default, which holds the run again.
        QCOMPARE(cli({"history", "--limit", "0"}, {}, state.path()).exitCode, 0);
        QCOMPARE(
            cli({"replace", tmp.path(), "--find", "z", "--replace", "c", "--require-undo"}, {}, state.path())
                .exitCode,
            0);
    }

    // The history is private, and a link planted in it leads nowhere: the
    // run then goes ahead without it (or not at all, when asked to).
    void privateAndNoLinks()
    {
        TempDir tmp, state, elsewhere;
        numbered_files(tmp.path(), 2);
        QCOMPARE(cli({"rename", tmp.path(), "--start", "5"}, {}, state.path()).exitCode, 0);
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(state.path() + "/torvale").constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);

        TempDir planted;
        QVERIFY(QFile::link(elsewhere.path(), planted.path() + "/torvale"));
        const auto before = snapshot(tmp.path());
        const Run required =
            cli({"rename", tmp.path(), "--start", "1", "--require-undo"}, {}, planted.path());
        QCOMPARE(required.exitCode, 1);
        QCOMPARE(snapshot(tmp.path()), before);
        const Run run = cli({"rename", tmp.path(), "--start", "1"}, {}, planted.path());
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.contains(u("将无法撤销")), qPrintable(run.err));
        QVERIFY(snapshot(elsewhere.path()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
