#include "testutil.h"

#include "ops/replace.h"
#include "ops/testhook.h"

#include <QTemporaryDir>

#include <sys/stat.h>

using namespace torvale;
using namespace testutil;

Q_DECLARE_METATYPE(Charset)

class TestReplace : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { after_planning_hook = nullptr; }

    void withinBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Charset>("charset");
        QTest::addColumn<QByteArray>("find");
        QTest::addColumn<QByteArray>("replacement");
        QTest::addColumn<QByteArray>("result");
        QTest::addColumn<int>("count");
        const Charset G = Charset::Gbk, U = Charset::Utf8;
        QTest::newRow("aaa, aa -> b gives ba") << QByteArray("aaa") << G << QByteArray("aa") << QByteArray("b")
                                               << QByteArray("ba") << 1;
        QTest::newRow("every occurrence, left to right") << QByteArray("xaxax") << G << QByteArray("x")
                                                         << QByteArray("yy") << QByteArray("yyayyayy") << 3;
        QTest::newRow("inserted text is not searched again") << QByteArray("ab") << G << QByteArray("a")
                                                             << QByteArray("aa") << QByteArray("aab") << 1;
        QTest::newRow("empty replacement deletes") << QByteArray("a-b-c") << G << QByteArray("-") << QByteArray()
                                                   << QByteArray("abc") << 2;
        QTest::newRow("case matters") << QByteArray("Word") << G << QByteArray("word") << QByteArray("x")
                                      << QByteArray() << 0;
        QTest::newRow("line ends stay as they are") << QByteArray("a\r\nb\ra\nx a") << G << QByteArray("a")
                                                    << QByteArray("A") << QByteArray("A\r\nb\rA\nx A") << 3;
        QTest::newRow("never across CR LF") << QByteArray("a\r\nb") << G << QByteArray("\nb") << QByteArray("X")
                                            << QByteArray() << 0;
        QTest::newRow("lone LF belongs to the line") << QByteArray("a\nb") << G << QByteArray("a\nb")
                                                     << QByteArray("X") << QByteArray("X") << 1;
        QTest::newRow("no search text holds a CR") << QByteArray("a\rb") << G << QByteArray("a\rb")
                                                   << QByteArray("X") << QByteArray() << 0;
        // 0x81 0x41 is one GBK character whose second byte is "A".
        QTest::newRow("GBK: second byte is not a match") << QByteArray("\x81\x41\x41") << G << QByteArray("A")
                                                         << QByteArray("z") << QByteArray("\x81\x41z") << 1;
        QTest::newRow("GBK: chinese needle on a boundary")
            << gbk(u("中中国中")) << G << gbk(u("中国")) << gbk(u("华")) << gbk(u("中华中")) << 1;
        // In "\xD6\xD0\xD6\xD0" ("中中"), the bytes "\xD0\xD6" straddle two characters.
        QTest::newRow("GBK: straddling bytes are not a match")
            << gbk(u("中中")) << G << QByteArray("\xD0\xD6") << QByteArray("x") << QByteArray() << 0;
        QTest::newRow("UTF-8 chinese") << u("你好世界").toUtf8() << U << u("世界").toUtf8() << u("朋友").toUtf8()
                                       << u("你好朋友").toUtf8() << 1;
    }
    void withinBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(Charset, charset);
        QFETCH(QByteArray, find);
        QFETCH(QByteArray, replacement);
        QFETCH(QByteArray, result);
        QFETCH(int, count);
        QByteArray out;
        QCOMPARE(replace_in_bytes(bytes, charset, find, replacement, &out), count);
        QCOMPARE(out, result);
    }

    // A whole run over files of every kind: each file ends with exactly the
    // bytes expected, and files without an occurrence are not touched.
    void files_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<bool>("reported");
        QTest::newRow("GBK file, chinese texts") << gbk(u("旧名字\r\n还是旧名字")) << u("旧") << u("新")
                                                 << gbk(u("新名字\r\n还是新名字")) << false;
        QTest::newRow("UTF-8 file stays UTF-8") << u("旧\n旧").toUtf8() << u("旧") << u("新")
                                                << u("新\n新").toUtf8() << false;
        QTest::newRow("UTF-8 file takes any character") << u("a旧").toUtf8() << u("旧") << u("😀")
                                                        << u("a😀").toUtf8() << false;
        QTest::newRow("lone CR and no final line end kept") << QByteArray("x\ry\r\nx") << "x" << "z"
                                                            << QByteArray("z\ry\r\nz") << false;
        QTest::newRow("ASCII file gets GBK text") << QByteArray("name") << "name" << u("名字") << gbk(u("名字"))
                                                  << false;
        QTest::newRow("no occurrence: untouched") << QByteArray("abc\n") << "zzz" << "y" << QByteArray("abc\n")
                                                  << false;
        QTest::newRow("GBK cannot hold the replacement") << gbk(u("旧")) << u("旧") << u("😀") << gbk(u("旧"))
                                                         << true;
        QTest::newRow("search text GBK cannot hold") << gbk(u("旧")) << u("😀") << "x" << gbk(u("旧")) << false;
    }
    void files()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, find);
        QFETCH(QString, replacement);
        QFETCH(QByteArray, after);
        QFETCH(bool, reported);
        QTemporaryDir tmp;
        write(tmp.path(), "f.dat", before);
        const QString path = QDir(tmp.path()).filePath("f.dat");
        const QDateTime old = QDateTime::currentDateTime().addDays(-3);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
        file.close();

        const Report report = run_replace({tmp.path(), find, replacement});
        QCOMPARE(read(tmp.path(), "f.dat"), after);
        QCOMPARE(report.problems.size(), reported ? 1 : 0);
        QCOMPARE(report.changed, before == after ? 0 : 1);
        if (before == after) // not even touched
            QCOMPARE(QFileInfo(path).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());
    }

    void emptySearchTextTouchesNothing()
    {
        QTemporaryDir tmp;
        write(tmp.path(), "a.txt", "a\r\n");
        write(tmp.path(), "empty", "");
        const auto before = snapshot(tmp.path());
        QList<int> values;
        const Report report = run_replace({tmp.path(), "", "x"}, [&](int value, int) { values << value; });
        QVERIFY(report.ok());
        QCOMPARE(snapshot(tmp.path()), before);
        QCOMPARE(values, (QList<int>{0, 1, 2}));
    }

    void everyExtensionAndProgress()
    {
        QTemporaryDir tmp;
        write(tmp.path(), "a.txt", "key");
        write(tmp.path(), "b.ini", "key=1");
        write(tmp.path(), "c", "no");
        QList<int> values;
        int maximum = 0;
        const Report report = run_replace({tmp.path(), "key", "k"}, [&](int value, int m) {
            values << value;
            maximum = m;
        });
        QCOMPARE(report.changed, 2);
        QCOMPARE(report.occurrences, 2);
        QCOMPARE(maximum, 4);
        QCOMPARE(values, (QList<int>{0, 1, 2, 3}));
        QCOMPARE(read(tmp.path(), "b.ini"), QByteArray("k=1"));
    }

    void keepsPermissions()
    {
        QTemporaryDir tmp;
        write(tmp.path(), "run.sh", "echo old");
        const QString path = QDir(tmp.path()).filePath("run.sh");
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0751) == 0);
        QVERIFY(run_replace({tmp.path(), "old", "new"}).ok());
        QCOMPARE(read(tmp.path(), "run.sh"), QByteArray("echo new"));
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0751u);
    }

    // A file that turns into a folder after the listing cannot be read; it is
    // reported and the others are still done.
    void unreadableFileIsReported()
    {
        QTemporaryDir tmp;
        write(tmp.path(), "a.txt", "old");
        write(tmp.path(), "b.txt", "old");
        after_planning_hook = [](const QString &dir) {
            QVERIFY(QFile::remove(QDir(dir).filePath("a.txt")));
            QVERIFY(QDir(dir).mkdir("a.txt"));
        };
        const Report report = run_replace({tmp.path(), "old", "new"});
        QCOMPARE(report.changed, 1);
        QCOMPARE(report.problems.size(), 1);
        QCOMPARE(report.problems[0].name, QStringLiteral("a.txt"));
        QCOMPARE(read(tmp.path(), "b.txt"), QByteArray("new"));
    }

    // A folder the run may not write into: the rewrite fails, the file stays
    // whole, and the report says so. Runs as an ordinary user, whom the mode stops.
    void readOnlyDirectory()
    {
        QTemporaryDir tmp;
        write(tmp.path(), "a.txt", "old");
        write(tmp.path(), "b.txt", "old");
        QVERIFY(::chmod(QFile::encodeName(tmp.path()).constData(), 0555) == 0);
        const int problems = run_unprivileged([&] {
            const Report report = run_replace({tmp.path(), "old", "new"});
            return report.changed == 0 ? int(report.problems.size()) : 100;
        });
        QVERIFY(::chmod(QFile::encodeName(tmp.path()).constData(), 0755) == 0);
        if (problems < 0)
            QSKIP("cannot run as an unprivileged user here");
        QCOMPARE(problems, 2);
        QCOMPARE(read(tmp.path(), "a.txt"), QByteArray("old"));
        QCOMPARE(snapshot(tmp.path()).keys(), (QStringList{"a.txt", "b.txt"}));
    }

    void noFileLimit()
    {
        QTemporaryDir tmp;
        for (int i = 0; i < 5200; ++i)
            write(tmp.path(), QStringLiteral("f%1").arg(i), "x");
        const Report report = run_replace({tmp.path(), "x", "y"});
        QCOMPARE(report.changed, 5200);
        QCOMPARE(read(tmp.path(), "f5199"), QByteArray("y"));
    }
};

QTEST_GUILESS_MAIN(TestReplace)
#include "tst_replace.moc"
