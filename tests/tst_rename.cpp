#include "testutil.h"

#include "ops/rename.h"
#include "ops/testhook.h"

#include <QTemporaryDir>

#include <cmath>

using namespace torvale;
using namespace testutil;

namespace {

// Makes empty files with these names in a new temporary folder.
void fill(const QString &dir, const QStringList &names)
{
    for (const QString &name : names)
        write(dir, name, name.toUtf8()); // each file holds its old name, to follow it
}

QStringList files_of(const QString &dir)
{
    QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    return names;
}

} // namespace

class TestRename : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { after_planning_hook = nullptr; }

    void numberRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("number");
        QTest::newRow("12abc with spaces") << "  12abc  " << 12.0;
        QTest::newRow("no leading digit") << "abc12" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("only spaces") << "   " << 0.0;
        QTest::newRow("zero") << "0" << 0.0;
        QTest::newRow("sign and fraction") << "-2.5x" << -2.5;
        QTest::newRow("fraction without whole part") << ".5" << 0.5;
        QTest::newRow("exponent") << "1.5E2" << 150.0;
        QTest::newRow("lower-case exponent with sign") << "2e-1" << 0.2;
        QTest::newRow("exponent without digits is ignored") << "3E" << 3.0;
        QTest::newRow("blanks inside the number") << "1 2\t3\n4" << 1234.0;
        QTest::newRow("second point ends the number") << "1.2.3" << 1.2;
        QTest::newRow("full-width digits are not digits") << u("１２") << 0.0;
        QTest::newRow("plus sign") << "+7" << 7.0;
    }
    void numberRule()
    {
        QFETCH(QString, text);
        QFETCH(double, number);
        QCOMPARE(parse_start_number(text), number);
    }

    void tooLargeIsInfinite()
    {
        QVERIFY(std::isinf(parse_start_number("1e999")));
        QCOMPARE(parse_start_number("1e-999"), 0.0);
    }

    void numberText_data()
    {
        QTest::addColumn<double>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 7.0 << "7";
        QTest::newRow("negative") << -12.0 << "-12";
        QTest::newRow("negative zero") << -0.0 << "0";
        QTest::newRow("fraction") << 2.5 << "2.5";
        QTest::newRow("small fraction, no exponent") << 0.00001 << "0.00001";
        QTest::newRow("fifteen significant digits") << 0.1 + 0.2 << "0.3";
        QTest::newRow("large whole number") << 1e17 << "100000000000000000";
        QTest::newRow("negative fraction") << -0.25 << "-0.25";
    }
    void numberText()
    {
        QFETCH(double, number);
        QFETCH(QString, text);
        QCOMPARE(number_text(number), text);
        QCOMPARE(parse_start_number(text), std::stod(text.toStdString()));
    }

    // Whole runs on a folder: the names before, the fields, the names after.
    void renames_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("width");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("prefix, no width") << QStringList{"Photo.JPG", "scan.tif"} << "pic" << "1" << 0
                                          << QStringList{"pic1.jpg", "pic2.tif"};
        QTest::newRow("several dots, width 3") << QStringList{"a.TAR.gz"} << "" << "7" << 3
                                               << QStringList{"007.tar.gz"};
        QTest::newRow("no dot: the name is the extension") << QStringList{"README"} << "doc" << "0" << 0
                                                           << QStringList{"doc0.readme"};
        QTest::newRow("width 3 from 8") << QStringList{"a.txt", "b.txt", "c.txt"} << "" << "8" << 3
                                        << QStringList{"008.txt", "009.txt", "010.txt"};
        QTest::newRow("width equal to the length adds no zeros") << QStringList{"a.txt"} << "" << "12" << 2
                                                                 << QStringList{"12.txt"};
        QTest::newRow("prefix trimmed") << QStringList{"x.txt"} << "  p q  " << "1" << 0
                                        << QStringList{"p q1.txt"};
        QTest::newRow("sorted by number, not by the file system")
            << QStringList{"10.jpg", "9.jpg", "1.jpg"} << "n" << "1" << 0
            << QStringList{"n1.jpg", "n2.jpg", "n3.jpg"};
        QTest::newRow("only the case of the extension changes") << QStringList{"1.TXT"} << "" << "1" << 0
                                                                << QStringList{"1.txt"};
        QTest::newRow("chain: 1 to 2, 2 to 3") << QStringList{"1.txt", "2.txt"} << "" << "2" << 0
                                               << QStringList{"2.txt", "3.txt"};
        QTest::newRow("cycle through the batch") << QStringList{"a1.txt", "a2.txt", "a3.txt"} << "a" << "0" << 0
                                                 << QStringList{"a0.txt", "a1.txt", "a2.txt"};
        QTest::newRow("name that stays") << QStringList{"p1.txt", "p3.txt"} << "p" << "1" << 0
                                         << QStringList{"p1.txt", "p2.txt"};
        QTest::newRow("chinese prefix") << QStringList{u("旅行.jpg")} << u("照片") << "1" << 2
                                        << QStringList{u("照片01.jpg")};
    }
    void renames()
    {
        QFETCH(QStringList, before);
        QFETCH(QString, prefix);
        QFETCH(QString, start);
        QFETCH(int, width);
        QFETCH(QStringList, after);
        QTemporaryDir tmp;
        fill(tmp.path(), before);

        QList<int> progressValues;
        int progressMaximum = -1;
        const Report report = run_rename({tmp.path(), prefix, start, width}, [&](int value, int maximum) {
            progressValues << value;
            progressMaximum = maximum;
        });
        QCOMPARE(report.status, Report::Status::Done);
        QCOMPARE(files_of(tmp.path()), after);
        QCOMPARE(progressMaximum, before.size() + 1);
        QCOMPARE(progressValues.last(), before.size());
    }

    // Whatever refuses the batch leaves every file as it was.
    void refusals_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("other"); // another entry: "dir:", "link:" or "hidden:" and its name
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("message");
        QTest::newRow("width 2 from 98: third number too long")
            << QStringList{"a", "b", "c"} << "" << "" << "98" << 2 << QString("整合数小于序数的位数，请返回选择一个较大的整合数！");
        QTest::newRow("taken by a folder") << QStringList{"a.txt"} << "dir:1.txt" << "" << "1" << 0 << "1.txt";
        QTest::newRow("taken by a link") << QStringList{"a.txt"} << "link:1.txt" << "" << "1" << 0 << "1.txt";
        QTest::newRow("prefix that would hide the files") << QStringList{"a.txt"} << "hidden:.1.txt" << "." << "1" << 0
                                                          << "隐藏";
        QTest::newRow("prefix with a slash") << QStringList{"a.txt"} << "" << "sub/p" << "1" << 0 << "/";
        QTest::newRow("prefix with a backslash") << QStringList{"a.txt"} << "" << "a\\b" << "1" << 0 << "\\";
        QTest::newRow("two files, one new name") << QStringList{"a.txt", "b.txt"} << "" << "" << "1e17" << 0
                                                 << "100000000000000000.txt";
        QTest::newRow("new name too long") << QStringList{"a.txt"} << "" << QString(250, 'x') << "123456" << 0
                                           << "太长";
        QTest::newRow("start number beyond any number") << QStringList{"a.txt"} << "" << "" << "1e400" << 0
                                                        << "太大";
    }
    void refusals()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, other);
        QFETCH(QString, prefix);
        QFETCH(QString, start);
        QFETCH(int, width);
        QFETCH(QString, message);
        QTemporaryDir tmp;
        const QDir dir(tmp.path());
        fill(tmp.path(), files);
        const QString otherName = other.section(':', 1);
        if (other.startsWith("dir:"))
            QVERIFY(dir.mkdir(otherName));
        else if (other.startsWith("link:"))
            QVERIFY(QFile::link("/nonexistent", dir.filePath(otherName)));
        else if (other.startsWith("hidden:"))
            write(tmp.path(), otherName, "hidden");
        const auto before = snapshot(tmp.path());

        const Report report = run_rename({tmp.path(), prefix, start, width});
        QCOMPARE(report.status, Report::Status::Refused);
        QVERIFY2(report.message.contains(message), qPrintable(report.message));
        QCOMPARE(report.changed, 0);
        QCOMPARE(snapshot(tmp.path()), before);
    }

    void widthProblemMarksItsRow()
    {
        QTemporaryDir tmp;
        fill(tmp.path(), {"a", "b", "c"});
        const RenamePlan plan = plan_rename({tmp.path(), "", "98", 2});
        QCOMPARE(plan.refusal, width_message());
        QCOMPARE(plan.problemRow, 2);
        QCOMPARE(plan.moves.size(), 3);
    }

    // A file that vanishes after the plan: the files renamed before it are
    // put back, and the report names the file and says why.
    void failurePutsEverythingBack()
    {
        QTemporaryDir tmp;
        fill(tmp.path(), {"a.txt", "b.txt", "c.txt", "d.txt"});
        after_planning_hook = [](const QString &dir) { QVERIFY(QFile::remove(QDir(dir).filePath("c.txt"))); };
        const Report report = run_rename({tmp.path(), "n", "1", 0});
        QCOMPARE(report.status, Report::Status::Failed);
        QVERIFY2(report.message.contains("c.txt"), qPrintable(report.message));
        QVERIFY(report.message.contains(u("文件已不存在")));
        QCOMPARE(files_of(tmp.path()), (QStringList{"a.txt", "b.txt", "d.txt"}));
        QCOMPARE(read(tmp.path(), "a.txt"), QByteArray("a.txt"));
    }

    // A file put in the way after the plan is never overwritten.
    void neverOverwritesANewcomer()
    {
        QTemporaryDir tmp;
        fill(tmp.path(), {"a.txt", "b.txt"});
        after_planning_hook = [](const QString &dir) { write(dir, "n2.txt", "newcomer"); };
        const Report report = run_rename({tmp.path(), "n", "1", 0});
        QCOMPARE(report.status, Report::Status::Failed);
        QCOMPARE(read(tmp.path(), "n2.txt"), QByteArray("newcomer"));
        QCOMPARE(read(tmp.path(), "a.txt"), QByteArray("a.txt"));
        QCOMPARE(read(tmp.path(), "b.txt"), QByteArray("b.txt"));
    }

    // A folder whose mode forbids renaming: nothing is renamed, and the
    // report names the first file that failed.
    void readOnlyDirectory()
    {
        QTemporaryDir tmp;
        fill(tmp.path(), {"a.txt", "b.txt"});
        QVERIFY(::chmod(QFile::encodeName(tmp.path()).constData(), 0555) == 0);
        const int status = run_unprivileged([&] {
            const Report report = run_rename({tmp.path(), "n", "1", 0});
            return report.status == Report::Status::Failed && report.message.contains("a.txt") ? 0 : 1;
        });
        QVERIFY(::chmod(QFile::encodeName(tmp.path()).constData(), 0755) == 0);
        if (status < 0)
            QSKIP("cannot run as an unprivileged user here");
        QCOMPARE(status, 0);
        QCOMPARE(files_of(tmp.path()), (QStringList{"a.txt", "b.txt"}));
    }

    void emptyFolder()
    {
        QTemporaryDir tmp;
        int maximum = -1;
        const Report report = run_rename({tmp.path(), "p", "1", 0}, [&](int, int m) { maximum = m; });
        QVERIFY(report.ok());
        QCOMPARE(maximum, 1);
    }

    // More files than the old 16-bit count allowed.
    void noFileLimit()
    {
        QTemporaryDir tmp;
        for (int i = 0; i < 33000; ++i) {
            QFile f(QDir(tmp.path()).filePath(QStringLiteral("f%1.dat").arg(i)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        const Report report = run_rename({tmp.path(), "g", "1", 5});
        QVERIFY2(report.ok(), qPrintable(report.message));
        QCOMPARE(report.changed, 33000);
        QVERIFY(QFile::exists(QDir(tmp.path()).filePath("g33000.dat")));
        QVERIFY(QFile::exists(QDir(tmp.path()).filePath("g00001.dat")));
    }
};

QTEST_GUILESS_MAIN(TestRename)
#include "tst_rename.moc"
