// torvale-cli from a shell: usage, exit status, what --dry-run says against
// what the run does, and a folder whose names are GBK bytes.

#include "testutil.h"

#include <QRegularExpression>

using namespace testutil;

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void usage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("nothing") << QStringList{} << 2;
        QTest::newRow("unknown operation") << QStringList{"delete", "."} << 2;
        QTest::newRow("rename without start") << QStringList{"rename", "."} << 2;
        QTest::newRow("width out of range")
            << QStringList{"rename", ".", "--start", "1", "--width", "9"} << 2;
        QTest::newRow("width too small") << QStringList{"rename", ".", "--start", "1", "--width", "1"} << 2;
        QTest::newRow("a forgotten value: the next option")
            << QStringList{"replace", ".", "--find", "foo", "--replace", "--dry-run"} << 2;
        QTest::newRow("a forgotten prefix")
            << QStringList{"rename", ".", "--start", "1", "--prefix", "--dry-run"} << 2;
        QTest::newRow("replace without find") << QStringList{"replace", ".", "--replace", "x"} << 2;
        QTest::newRow("unknown option") << QStringList{"html", ".", "--title", "t", "--force"} << 2;
        QTest::newRow("an empty pattern")
            << QStringList{"rename", ".", "--start", "1", "--exclude", " "} << 2;
        QTest::newRow("two folders") << QStringList{"html", ".", ".", "--title", "t"} << 2;
        QTest::newRow("no such folder") << QStringList{"html", "/nonexistent/folder", "--title", "t"} << 1;
        QTest::newRow("a system folder") << QStringList{"replace", "/etc", "--find", "a"} << 1;
        QTest::newRow("help") << QStringList{"--help"} << 0;
        QTest::newRow("help of an operation") << QStringList{"replace", "--help"} << 0;
        QTest::newRow("version") << QStringList{"--version"} << 0;
    }
    void usage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        TempDir tmp; // "." in a row: a run that should not happen must not touch anything real
        write(tmp.path(), QByteArray("a.txt"), "foo");
        arguments.replaceInStrings(QRegularExpression("^\\.$"), tmp.path());
        const Run run = cli(arguments);
        QCOMPARE(snapshot(tmp.path()), (QMap<QByteArray, QByteArray>{{"a.txt", "foo"}}));
        QCOMPARE(run.exitCode, exitCode);
        if (exitCode == 2)
            QVERIFY2(run.err.contains("--help"), qPrintable(run.err));
        else if (exitCode == 0)
            QVERIFY(run.out.contains(arguments.size() == 1 && arguments[0] == "--version" ? "2." : "--"));
        else
            QVERIFY(!run.err.isEmpty());
    }

    // Without GBK (a Qt built without ICU) nothing runs, and the message says why.
    void missingCharacterSet()
    {
        TempDir tmp;
        write(tmp.path(), QByteArray("a.txt"), gbk(u("旧")));
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_PRELOAD", NO_GBK);
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        process.setProcessEnvironment(env);
        process.start(TORVALE_CLI, {"replace", tmp.path(), "--find", u("旧"), "--replace", "x"});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(QString::fromUtf8(process.readAllStandardError()).contains("GBK"));
        QCOMPARE(read(tmp.path(), QByteArray("a.txt")), gbk(u("旧")));
    }

    // In a GB18030 locale, arguments and output are GB18030: a prefix and a
    // search text typed there give the right names and replacements.
    void gb18030Locale()
    {
        TempDir locales, tmp;
        QProcess localedef;
        localedef.start("localedef", {"-i", "zh_CN", "-f", "GB18030", locales.path() + "/zh_CN.GB18030"});
        TORVALE_REQUIRE(localedef.waitForFinished(120000) && QFile::exists(locales.path() + "/zh_CN.GB18030"),
                        "cannot make a GB18030 locale here (localedef and the locales package)");
        write(tmp.path(), QByteArray("a.txt"), gbk(u("旧文本")));
        auto run = [&](const QString &arguments) { // the texts as the locale's bytes, through the shell
            QString command = QString("exec '%1' %2").arg(TORVALE_CLI, arguments);
            for (const QString &text : {u("旧"), u("新"), u("照片")}) {
                QString octal;
                for (char b : gbk(text))
                    octal += QString("\\%1").arg(uchar(b), 3, 8, QLatin1Char('0'));
                command.replace(text, QString("\"$(printf '%1')\"").arg(octal));
            }
            QProcess process;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("LOCPATH", locales.path());
            env.insert("LC_ALL", "zh_CN.GB18030");
            process.setProcessEnvironment(env);
            process.start("sh", {"-c", command});
            process.waitForFinished(60000);
            return std::make_pair(process.exitCode(), process.readAllStandardOutput());
        };
        const auto replaced = run(u("replace '%1' --find 旧 --replace 新").arg(tmp.path()));
        QCOMPARE(replaced.first, 0);
        QCOMPARE(read(tmp.path(), QByteArray("a.txt")), gbk(u("新文本")));
        const auto renamed = run(u("rename '%1' --start 1 --prefix 照片").arg(tmp.path()));
        QCOMPARE(renamed.first, 0);
        QVERIFY(renamed.second.contains(gbk(u("已更名 1 个文件"))));
        QCOMPARE(snapshot(tmp.path()).keys(), QList<QByteArray>{gbk(u("照片1.txt"))});
    }

    // --dry-run prints what the run then does, changing nothing itself; a
    // folder whose names are GBK bytes is handled like any other.
    void dryRunAgrees_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QList<QByteArray>>("names"); // of the folder after the run
        const QByteArray g = gbk(u("旧文件"));        // GBK bytes, not UTF-8
        const QString shown = u("旧文件.txt〔GBK 文件名〕");
        QTest::newRow("rename") << QStringList{"rename", "--start", "1", "--prefix", "p"}
                                << QStringList{"a.TXT → p1.txt", u("R&D.txt → p2.txt"),
                                               shown + u(" → p3.txt")}
                                << QList<QByteArray>{"p1.txt", "p2.txt", "p3.txt"};
        QTest::newRow("replace by an option's look")
            << QStringList{"replace", "--find", "old", "--replace=--new"}
            << QStringList{u("a.TXT：替换 1 处"), u("R&D.txt：替换 1 处"), shown + u("：替换 1 处")}
            << QList<QByteArray>{"R&D.txt", "a.TXT", g + ".txt"};
        QTest::newRow("replace") << QStringList{"replace", "--find", "old", "--replace", "new"}
                                 << QStringList{u("a.TXT：替换 1 处"), u("R&D.txt：替换 1 处"),
                                                shown + u("：替换 1 处")}
                                 << QList<QByteArray>{"R&D.txt", "a.TXT", g + ".txt"};
        QTest::newRow("html") << QStringList{"html", "--title", "T"}
                              << QStringList{u("a.TXT → a.htm：新建"), u("R&D.txt → r&d.htm：新建"),
                                             shown + u(" → 旧文件.htm〔GBK 文件名〕：新建"),
                                             u("index.htm：索引，新建")}
                              << QList<QByteArray>{"R&D.txt", "a.TXT",    "a.htm",   "index.htm",
                                                   "r&d.htm", g + ".htm", g + ".txt"};
    }
    void dryRunAgrees()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, lines);
        QFETCH(QList<QByteArray>, names);
        TempDir tmp;
        write(tmp.path(), QByteArray("a.TXT"), "old");
        write(tmp.path(), gbk(u("旧文件.txt")), "old");
        write(tmp.path(), QByteArray("R&D.txt"), "old");
        const auto before = snapshot(tmp.path());
        arguments.insert(1, tmp.path());
        const Run dryRun = cli(arguments + QStringList{"--dry-run"});
        QCOMPARE(dryRun.exitCode, 0);
        QCOMPARE(dryRun.out.split('\n', Qt::SkipEmptyParts),
                 lines + QStringList{dryRun.out.section('\n', -2, -2)});
        QVERIFY2(dryRun.out.section('\n', -2, -2).startsWith(
                     u("预演，没有改动任何文件：将处理 %1 项，跳过 0 项").arg(lines.size())),
                 qPrintable(dryRun.out));
        QCOMPARE(snapshot(tmp.path()), before);
        const Run run = cli(arguments);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(snapshot(tmp.path()).keys(), names);
    }

    // Two names that differ only by a line feed and a backslash and n print
    // differently, each on one line.
    void namesPrintDistinctly()
    {
        TempDir tmp;
        write(tmp.path(), QByteArray("a\nb.txt"), "x");
        write(tmp.path(), QByteArray("a\\nb.txt"), "y");
        const Run run = cli({"rename", tmp.path(), "--start", "1", "--dry-run"});
        QCOMPARE(run.out.split('\n', Qt::SkipEmptyParts).mid(0, 2),
                 (QStringList{"a\\nb.txt → 1.txt", "a\\\\nb.txt → 2.txt"}));
    }

    // A name that lower-casing makes longer than a name may be: the dry run
    // and the run both skip its page, for the same reason.
    void pageNameTooLong()
    {
        TempDir tmp;
        // AȺ: 3 bytes, aⱥ: 4 (Ⱥ alone, C8 BA, would read as GBK 群)
        write(tmp.path(), u("AȺ").repeated(80).toUtf8() + ".txt", "title");
        const Run dryRun = cli({"html", tmp.path(), "--title", "T", "--dry-run"});
        const Run run = cli({"html", tmp.path(), "--title", "T"});
        QCOMPARE(dryRun.exitCode, 1);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(dryRun.out.contains(u("太长")) && run.err.contains(u("太长")),
                 qPrintable(dryRun.out + run.err));
        QCOMPARE(snapshot(tmp.path()).size(), 2); // the text and an index without it
    }

    // Ctrl-C (or TERM, HUP) during a run: a rename is put back, the other
    // operations stop after the files in hand and leave nothing of theirs;
    // the program says what was done and ends with 128 + the signal. The run
    // is slowed at each rename so that the signal lands in its middle.
    void stopOnSignal_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("signal");
        QTest::newRow("rename, Ctrl-C")
            << QStringList{"rename", "DIR", "--start", "1", "--prefix", "n"} << SIGINT;
        QTest::newRow("replace, TERM")
            << QStringList{"replace", "DIR", "--find", "old", "--replace", "new"} << SIGTERM;
        QTest::newRow("html, HUP") << QStringList{"html", "DIR", "--title", "T"} << SIGHUP;
    }
    void stopOnSignal()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, signal);
        TORVALE_REQUIRE(strace_works(), "strace cannot slow a run here (no ptrace)");
        TempDir tmp;
        for (int i = 0; i < 300; ++i)
            write(tmp.path(), "f" + QByteArray::number(i) + ".txt", "old");
        const auto before = snapshot(tmp.path());
        arguments.replaceInStrings("DIR", tmp.path());
        QProcess process;
        start_cli(process, arguments, {"trace=renameat2", "inject=renameat2:delay_enter=5000"});
        auto changing = [&] { // some file has its new name or bytes
            const auto now = snapshot(tmp.path());
            return now.contains("n1.txt") || now.key("new").size() > 0 || now.contains("f0.htm");
        };
        QTRY_VERIFY_WITH_TIMEOUT(changing(), 30000);
        QFile children(QString("/proc/%1/task/%1/children").arg(process.processId()));
        QVERIFY(children.open(QIODevice::ReadOnly));
        const pid_t tracee = children.readAll().trimmed().toInt();
        QVERIFY(tracee > 0);
        QCOMPARE(::kill(tracee, signal), 0);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 128 + signal);
        const QString said =
            QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
        QVERIFY2(said.contains(u("操作已停止")) && !said.contains("-1"), qPrintable(said));
        const auto after = snapshot(tmp.path());
        QVERIFY(std::none_of(after.keyBegin(), after.keyEnd(),
                             [](const QByteArray &k) { return k.startsWith(".torvale"); }));
        if (arguments[0] == "rename")
            QCOMPARE(after, before); // every name as it was
        for (auto it = after.cbegin(); it != after.cend(); ++it)
            QVERIFY(it.key().endsWith(".htm") || it.value() == "old" || it.value() == "new");
        QVERIFY(!after.contains("index.htm"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
