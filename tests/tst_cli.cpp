#include "testutil.h"

#include <QProcess>
#include <QTemporaryDir>

using namespace testutil;

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run cli(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(TORVALE_CLI), arguments);
    Run run;
    if (!process.waitForFinished(60000))
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("nothing") << QStringList{};
        QTest::newRow("unknown operation") << QStringList{"delete", "."};
        QTest::newRow("rename without start") << QStringList{"rename", "."};
        QTest::newRow("width out of range") << QStringList{"rename", ".", "--start", "1", "--width", "9"};
        QTest::newRow("replace without find") << QStringList{"replace", "."};
        QTest::newRow("html without title") << QStringList{"html", "."};
        QTest::newRow("two folders") << QStringList{"html", ".", ".", "--title", "t"};
        QTest::newRow("no such folder") << QStringList{"html", "/nonexistent/folder", "--title", "t"};
    }
    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        const Run run = cli(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.err.contains("usage"));
    }

    void rename()
    {
        QTemporaryDir tmp;
        write(tmp.path(), "IMG_10.JPG", "10");
        write(tmp.path(), "IMG_9.JPG", "9");
        const Run run = cli({"rename", tmp.path(), "--start", "1", "--prefix", u("照片"), "--width", "3"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains(u("已更名 2 个文件")), qPrintable(run.out));
        QCOMPARE(read(tmp.path(), u("照片001.jpg")), QByteArray("9"));
        QCOMPARE(read(tmp.path(), u("照片002.jpg")), QByteArray("10"));
    }

    void refusedRenameChangesNothing()
    {
        QTemporaryDir tmp;
        write(tmp.path(), "a", "");
        write(tmp.path(), "b", "");
        const auto before = snapshot(tmp.path());
        const Run run = cli({"rename", tmp.path(), "--start", "99", "--width", "2"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains(u("整合数小于序数的位数")));
        QCOMPARE(snapshot(tmp.path()), before);
    }

    void replace()
    {
        QTemporaryDir tmp;
        write(tmp.path(), "a.txt", gbk(u("旧文本")));
        write(tmp.path(), "b.bin", QByteArray("\0", 1) + gbk(u("旧")));
        const Run run = cli({"replace", tmp.path(), "--find", u("旧"), "--replace", u("新")});
        QCOMPARE(run.exitCode, 1); // one file skipped
        QCOMPARE(read(tmp.path(), "a.txt"), gbk(u("新文本")));
        QVERIFY(run.err.contains("b.bin"));
        QVERIFY2(run.out.contains(u("修改了 1 个文件，替换 1 处")), qPrintable(run.out));
    }

    // --dry-run prints one line per file and changes nothing.
    void dryRun_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("line");
        QTest::newRow("rename") << QStringList{"rename", "--start", "1", "--prefix", "p"} << u("a.TXT → p1.txt");
        QTest::newRow("replace") << QStringList{"replace", "--find", "old", "--replace", "new"} << u("a.TXT：1 处");
        QTest::newRow("html") << QStringList{"html", "--title", "T"} << u("a.TXT → a.htm");
    }
    void dryRun()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, line);
        QTemporaryDir tmp;
        write(tmp.path(), "a.TXT", "old");
        const auto before = snapshot(tmp.path());
        arguments.insert(1, tmp.path());
        const Run run = cli(arguments + QStringList{"--dry-run"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.split('\n').contains(line), qPrintable(run.out));
        QCOMPARE(snapshot(tmp.path()), before);
    }

    void html()
    {
        QTemporaryDir tmp;
        write(tmp.path(), "a.txt", "Title");
        const Run run = cli({"html", tmp.path(), "--title", u("标题")});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(QFile::exists(QDir(tmp.path()).filePath("a.htm")));
        QVERIFY(read(tmp.path(), "index.htm").contains(gbk(u("标题目录"))));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
