#include "testutil.h"

#include "ops/convert.h"
#include "ops/pages.h"
#include "ops/testhook.h"

#include <QTemporaryDir>

using namespace torvale;
using namespace testutil;

namespace {

// The part of a page after the head: its title line and what follows.
QString body_of(const QString &dir, const QString &page)
{
    const QByteArray bytes = read(dir, page);
    QStringDecoder decoder("GBK");
    const QString text = decoder.decode(bytes);
    return text.mid(Text6.size());
}

QStringList index_links(const QString &dir)
{
    QStringList links;
    for (const QString &line : body_of(dir, "index.htm").split("\r\n")) {
        if (line.contains("<a HREF="))
            links << line.section("<a HREF=", 1);
    }
    return links;
}

} // namespace

class TestConvert : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { after_planning_hook = nullptr; }

    void pageNames_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("page");
        QTest::newRow("upper-case name") << "ReadMe.TXT" << "readme.htm";
        QTest::newRow("just txt") << "TXT" << "txt.htm";
        QTest::newRow("chinese") << u("笔记.txt") << u("笔记.htm");
    }
    void pageNames()
    {
        QFETCH(QString, source);
        QFETCH(QString, page);
        QCOMPARE(page_name_of(source), page);
    }

    // Which files become pages, in what order, and what the index links.
    void selection()
    {
        QTemporaryDir tmp;
        const QString dir = tmp.path();
        write(dir, "ReadMe.TXT", "Read me");
        write(dir, "a.b.txt", "not converted");
        write(dir, "10.txt", "Ten");
        write(dir, "2.txt", "Two");
        write(dir, "txt", "Bare");
        write(dir, "notes.doc", "other");
        write(dir, "Index.txt", "would become the index");
        write(dir, ".hidden.txt", "hidden");
        QVERIFY(QDir(dir).mkdir("sub.txt"));

        QList<int> values;
        int maximum = 0;
        const Report report = run_convert({dir, u("目录标题")}, [&](int value, int m) {
            values << value;
            maximum = m;
        });
        QCOMPARE(report.changed, 4);
        QCOMPARE(report.problems.size(), 1);
        QCOMPARE(report.problems[0].name, QStringLiteral("Index.txt"));
        QCOMPARE(maximum, 6);
        QCOMPARE(values, (QList<int>{0, 1, 2, 3, 4, 5}));
        QCOMPARE(index_links(dir), (QStringList{"\"2.htm\">Two</a><BR>", "\"10.htm\">Ten</a><BR>",
                                                "\"readme.htm\">Read me</a><BR>", "\"txt.htm\">Bare</a><BR>"}));
        QVERIFY(!QFile::exists(QDir(dir).filePath("a.b.htm")));
        QVERIFY(!QFile::exists(QDir(dir).filePath(".hidden.htm")));
        QCOMPARE(read(dir, "Index.txt"), QByteArray("would become the index"));
    }

    void titleAndBody_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("body");
        QTest::newRow("one line: title only") << QByteArray("Only\r\n") << "Only" << QStringList{};
        QTest::newRow("empty first line, empty lines dropped, spaces kept")
            << QByteArray("\r\nx\r\n\r\n  \r\n") << "" << QStringList{"x", "  "};
        QTest::newRow("no line at all") << QByteArray() << "" << QStringList{};
        QTest::newRow("GBK source") << gbk(u("标题\r\n正文<b>")) << u("标题") << QStringList{u("正文＜b＞")};
        QTest::newRow("UTF-8 source, character GBK lacks")
            << u("标题😀\n仍是标题\r\n한").toUtf8() << u("标题&#128512;\n仍是标题") << QStringList{"&#54620;"};
    }
    void titleAndBody()
    {
        QFETCH(QByteArray, source);
        QFETCH(QString, title);
        QFETCH(QStringList, body);
        QTemporaryDir tmp;
        write(tmp.path(), "s.txt", source);
        QVERIFY(run_convert({tmp.path(), "T"}).ok());
        const QStringList lines = body_of(tmp.path(), "s.htm").split("\r\n");
        QCOMPARE(lines.value(0), title + "</H2>");
        QStringList seen;
        for (const QString &line : lines.mid(3)) {
            if (!line.startsWith("&nbsp;&nbsp;&nbsp;&nbsp;"))
                break;
            seen << line.mid(24).chopped(4);
        }
        QCOMPARE(seen, body);
        QCOMPARE(lines.value(3 + body.size()), "</P><H1 align=left>&nbsp;&nbsp;&nbsp;&nbsp;</H1>");
        QVERIFY(read(tmp.path(), "s.htm").endsWith("</BODY></HTML>\r\n"));
    }

    // Sources that cannot be converted are named; the index links only the pages written.
    void troubleIsReported()
    {
        QTemporaryDir tmp;
        const QString dir = tmp.path();
        write(dir, "a.txt", "A");
        write(dir, "b.txt", QByteArray("\0\1\2", 3));
        write(dir, "c.txt", "C");
        write(dir, "C.TXT", "second c");
        QVERIFY(QDir(dir).mkdir("d.htm"));
        write(dir, "d.txt", "D");
        write(dir, "e.txt", "E");
        after_planning_hook = [](const QString &d) { QVERIFY(QFile::remove(QDir(d).filePath("e.txt"))); };
        const Report report = run_convert({dir, "T"});
        QCOMPARE(report.changed, 2);
        QStringList named;
        for (const Problem &p : report.problems)
            named << p.name;
        QCOMPARE(named, (QStringList{"b.txt", "c.txt", "d.txt", "e.txt"})); // C.TXT sorts first and makes c.htm
        QCOMPARE(index_links(dir), (QStringList{"\"a.htm\">A</a><BR>", "\"c.htm\">second c</a><BR>"}));
        QVERIFY(!QFile::exists(QDir(dir).filePath("b.htm")));
    }

    void emptyFolderGetsAnIndex()
    {
        QTemporaryDir tmp;
        int maximum = 0;
        QVERIFY(run_convert({tmp.path(), "T"}, [&](int, int m) { maximum = m; }).ok());
        QCOMPARE(maximum, 1);
        QVERIFY(index_links(tmp.path()).isEmpty());
        QVERIFY(read(tmp.path(), "index.htm").startsWith("<HTML>"));
    }

    void noFileLimit()
    {
        QTemporaryDir tmp;
        for (int i = 1; i <= 5001; ++i)
            write(tmp.path(), QStringLiteral("%1.txt").arg(i), "t");
        const Report report = run_convert({tmp.path(), "T"});
        QCOMPARE(report.changed, 5001);
        QCOMPARE(index_links(tmp.path()).size(), 5001);
        QCOMPARE(index_links(tmp.path()).last(), "\"5001.htm\">t</a><BR>");
    }

    void secondRunGivesTheSameFiles()
    {
        QTemporaryDir tmp;
        write(tmp.path(), "a.txt", "A\r\nline");
        write(tmp.path(), "a.htm", "an old page");
        QVERIFY(run_convert({tmp.path(), "T"}).ok());
        const auto first = snapshot(tmp.path());
        QVERIFY(run_convert({tmp.path(), "T"}).ok());
        QCOMPARE(snapshot(tmp.path()), first);
    }
};

QTEST_GUILESS_MAIN(TestConvert)
#include "tst_convert.moc"
