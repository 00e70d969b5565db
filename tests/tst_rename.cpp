// Batch rename: the new names, the refusals that leave every file alone, and
// a folder that changes between plan and run.

#include "testutil.h"

#include "ops/rename.h"

using namespace torvale;
using namespace testutil;

namespace {

// Each file holds its old name, to follow it.
void fill(const QString &dir, const QList<QByteArray> &names)
{
    for (const QByteArray &name : names)
        write(dir, name, name);
}

QList<QByteArray> names_of(const QString &dir)
{
    return snapshot(dir).keys();
}

} // namespace

class TestRename : public QObject
{
    Q_OBJECT

private slots:
    void renames_data()
    {
        QTest::addColumn<QList<QByteArray>>("before");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("width");
        QTest::addColumn<QList<QByteArray>>("after"); // in the order of the old names
        using L = QList<QByteArray>;
        QTest::newRow("prefix, no width") << L{"Photo.JPG", "scan.tif"} << "pic"
                                          << "1" << 0 << L{"pic1.jpg", "pic2.tif"};
        QTest::newRow("several dots, width 3") << L{"a.TAR.gz"} << ""
                                               << "7" << 3 << L{"007.tar.gz"};
        QTest::newRow("no dot: the name is the extension") << L{"README"} << "doc"
                                                           << "0" << 0 << L{"doc0.readme"};
        QTest::newRow("width 3 from 8") << L{"a", "b", "c"} << ""
                                        << "8" << 3 << L{"008.a", "009.b", "010.c"};
        QTest::newRow("sorted by number, prefix trimmed") << L{"10.jpg", "9.jpg"} << "  n "
                                                          << "1" << 0 << L{"n2.jpg", "n1.jpg"};
        QTest::newRow("only the case of the extension changes") << L{"1.TXT"} << ""
                                                                << "1" << 0 << L{"1.txt"};
        QTest::newRow("chain: 1 to 2, 2 to 3") << L{"1.txt", "2.txt"} << ""
                                               << "2" << 0 << L{"2.txt", "3.txt"};
        QTest::newRow("cycle through the batch") << L{"a1.txt", "a2.txt", "a3.txt"} << "a"
                                                 << "0" << 0 << L{"a0.txt", "a1.txt", "a2.txt"};
        QTest::newRow("Chinese prefix")
            << L{u("旅行.jpg").toUtf8()} << u("照片") << "1" << 2 << L{u("照片01.jpg").toUtf8()};
        QTest::newRow("GBK names keep their extension's bytes")
            << L{gbk(u("照片.JPG")), gbk(u("文件.文本"))} << "p"
            << "1" << 0 << L{"p2.jpg", "p1." + gbk(u("文本"))};
    }
    void renames()
    {
        QFETCH(QList<QByteArray>, before);
        QFETCH(QString, prefix);
        QFETCH(QString, start);
        QFETCH(int, width);
        QFETCH(QList<QByteArray>, after);
        TempDir tmp;
        fill(tmp.path(), before);
        QList<int> progress;
        const Report report = run_rename({tmp.path(), prefix, start, width}, [&](int value, int maximum) {
            QCOMPARE(maximum, before.size() + 1);
            progress << value;
        });
        QVERIFY2(report.ok(), qPrintable(report.message));
        for (qsizetype i = 0; i < before.size(); ++i)
            QCOMPARE(read(tmp.path(), after[i]), before[i]);
        QCOMPARE(names_of(tmp.path()).size(), before.size()); // and nothing else
        QCOMPARE(progress.last(), before.size());
    }

    // Whatever refuses the batch leaves every file as it was.
    void refusals_data()
    {
        QTest::addColumn<QList<QByteArray>>("files");
        QTest::addColumn<QString>("other"); // another entry: "dir:", "link:" or "hidden:" and its name
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("message");
        using L = QList<QByteArray>;
        QTest::newRow("width 2 from 98: third number too long") << L{"a", "b", "c"} << ""
                                                                << ""
                                                                << "98" << 2 << width_message();
        QTest::newRow("taken by a folder") << L{"a.txt"} << "dir:1.txt"
                                           << ""
                                           << "1" << 0 << "1.txt";
        QTest::newRow("taken by a link") << L{"a.txt"} << "link:1.txt"
                                         << ""
                                         << "1" << 0 << "1.txt";
        QTest::newRow("prefix that would hide the files") << L{"a.txt"} << "hidden:.1.txt"
                                                          << "."
                                                          << "1" << 0 << u("隐藏");
        QTest::newRow("prefix with a slash") << L{"a.txt"} << ""
                                             << "sub/p"
                                             << "1" << 0 << "/";
        QTest::newRow("two files, one new name") << L{"a.txt", "b.txt"} << ""
                                                 << ""
                                                 << "1e17" << 0 << "100000000000000000.txt";
        QTest::newRow("new name too long")
            << L{"a.txt"} << "" << QString(250, 'x') << "123456" << 0 << u("太长");
        QTest::newRow("start number beyond any number") << L{"a.txt"} << ""
                                                        << ""
                                                        << "1e400" << 0 << u("太大");
    }
    void refusals()
    {
        QFETCH(QList<QByteArray>, files);
        QFETCH(QString, other);
        QFETCH(QString, prefix);
        QFETCH(QString, start);
        QFETCH(int, width);
        QFETCH(QString, message);
        TempDir tmp;
        const QDir dir(tmp.path());
        fill(tmp.path(), files);
        const QString otherName = other.section(':', 1);
        if (other.startsWith("dir:"))
            QVERIFY(dir.mkdir(otherName));
        else if (other.startsWith("link:"))
            QVERIFY(QFile::link("/nonexistent", dir.filePath(otherName)));
        else if (other.startsWith("hidden:"))
            write(tmp.path(), otherName.toUtf8(), "hidden");
        const auto before = snapshot(tmp.path());
        const Report report = run_rename({tmp.path(), prefix, start, width});
        QCOMPARE(report.status, Report::Status::Refused);
        QVERIFY2(report.message.contains(message), qPrintable(report.message));
        QCOMPARE(snapshot(tmp.path()), before);
    }

    // The folder changes between the plan and the run: the run notices, and
    // the files renamed before are put back.
    void changedAfterThePlan_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("a file vanishes") << "remove c";
        QTest::newRow("a file is rewritten") << "rewrite c";
        QTest::newRow("a newcomer takes a new name") << "create n3";
    }
    void changedAfterThePlan()
    {
        QFETCH(QString, change);
        TempDir tmp;
        fill(tmp.path(), {"a", "b", "c", "d"});
        const RenamePlan plan = plan_rename({tmp.path(), "n", "1", 0});
        QVERIFY(plan.ok());
        if (change == "remove c")
            QVERIFY(QFile::remove(tmp.path() + "/c"));
        else
            write(tmp.path(), change == "create n3" ? QByteArray("n3.c") : QByteArray("c"), "someone else's");
        auto expected = snapshot(tmp.path());
        const Report report = apply_rename(plan);
        QCOMPARE(report.status, Report::Status::Failed);
        QVERIFY2(report.message.contains(u("恢复原名")), qPrintable(report.message));
        QCOMPARE(snapshot(tmp.path()), expected);
    }

    // A folder that nobody may change (even root leaves it alone), or that
    // this user may not change: refused before anything moves.
    void folderThatMayNotChange_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("unprivileged");
        QTest::addColumn<QString>("message");
        QTest::newRow("read-only folder") << 0555 << false << u("只读");
        QTest::newRow("another user's folder") << 0755 << true << u("没有权限");
    }
    void folderThatMayNotChange()
    {
        QFETCH(int, mode);
        QFETCH(bool, unprivileged);
        QFETCH(QString, message);
        TempDir tmp;
        fill(tmp.path(), {"a.txt", "b.txt"});
        QVERIFY(::chmod(QFile::encodeName(tmp.path()).constData(), mode_t(mode)) == 0);
        auto run = [&] {
            const Report report = run_rename({tmp.path(), "n", "1", 0});
            return report.status == Report::Status::Refused && report.message.contains(message) ? 0 : 1;
        };
        const int status = unprivileged ? run_unprivileged(run) : run();
        QVERIFY(::chmod(QFile::encodeName(tmp.path()).constData(), 0755) == 0);
        TORVALE_REQUIRE(status >= 0, "cannot run as an unprivileged user here");
        QCOMPARE(status, 0);
        QCOMPARE(names_of(tmp.path()), (QList<QByteArray>{"a.txt", "b.txt"}));
    }
};

QTEST_GUILESS_MAIN(TestRename)
#include "tst_rename.moc"
