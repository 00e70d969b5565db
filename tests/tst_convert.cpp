// Text to pages: which files become pages, what a page holds, and an index
// whose every link leads to a page that was written.

#include "testutil.h"

#include "ops/convert.h"
#include "ops/pages.h"

#include <QRegularExpression>
#include <QStringDecoder>

using namespace torvale;
using namespace testutil;

namespace {

QString decoded(const QByteArray &bytes)
{
    QStringDecoder decoder("GBK");
    return decoder.decode(bytes);
}

// The link targets of the index, as the raw file names a browser asks for:
// the page read as GBK, the address as UTF-8 with its %-escapes undone.
QList<QByteArray> index_targets(const QString &dir)
{
    QList<QByteArray> targets;
    static const QRegularExpression link("<a HREF=\"([^\"]*)\">");
    for (const auto &match : link.globalMatch(decoded(read(dir, QByteArray("index.htm")))))
        targets << QByteArray::fromPercentEncoding(match.captured(1).toUtf8());
    return targets;
}

} // namespace

class TestConvert : public QObject
{
    Q_OBJECT

private slots:
    // Which files become pages, in what order, and what the index links.
    void selection()
    {
        TempDir tmp;
        const QString dir = tmp.path();
        for (const char *name :
             {"ReadMe.TXT", "a.b.txt", "10.txt", "2.txt", "txt", "notes.doc", "Index.txt", ".hidden.txt"})
            write(dir, QByteArray(name), name);
        write(dir, gbk(u("中文.txt")), gbk(u("标题")));
        QVERIFY(QDir(dir).mkdir("sub.txt"));
        QList<int> values;
        const Report report = run_convert({dir, u("目录标题")}, [&](int value, int maximum) {
            QCOMPARE(maximum, 7);
            values << value;
        });
        QCOMPARE(report.changed, 5);
        QCOMPARE(report.problems.size(), 1);
        QCOMPARE(report.problems[0].name, "Index.txt");
        QVERIFY(report.indexWritten);
        QCOMPARE(values, (QList<int>{0, 1, 2, 3, 4, 5, 6}));
        const QList<QByteArray> targets{"2.htm", "10.htm", "readme.htm", "txt.htm", gbk(u("中文.htm"))};
        QCOMPARE(index_targets(dir), targets);
        for (const QByteArray &page : targets)
            QVERIFY2(read(dir, page).startsWith("<HTML>"), page.constData());
        QCOMPARE(snapshot(dir).size(), 10 + 5 + 1); // sources, pages, index (and nothing of ours)
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
        QTest::newRow("GBK source") << gbk(u("标题\r\n正文<b>&")) << u("标题")
                                    << QStringList{u("正文＜b＞&")};
        QTest::newRow("UTF-8 source, character GBK lacks")
            << u("标题😀\r\n한").toUtf8() << u("标题&#128512;") << QStringList{"&#54620;"};
        QTest::newRow("UTF-16LE source")
            << "\xFF\xFE" + le(u("标题\r\n正文 😀")) << u("标题") << QStringList{u("正文 &#128512;")};
        QTest::newRow("UTF-16BE source") << "\xFE\xFF" + be(u("T\n한")) << "T" << QStringList{"&#54620;"};
        QTest::newRow("GB18030 source")
            << gb18030(u("𠮷野家\r\n正文")) << u("&#134071;野家") << QStringList{u("正文")};
    }
    void titleAndBody()
    {
        QFETCH(QByteArray, source);
        QFETCH(QString, title);
        QFETCH(QStringList, body);
        TempDir tmp;
        write(tmp.path(), QByteArray("s.txt"), source);
        QVERIFY(run_convert({tmp.path(), "T"}).ok());
        const QString page = decoded(read(tmp.path(), QByteArray("s.htm")));
        const QStringList lines = page.mid(kPageHead.size()).split("\r\n");
        QCOMPARE(lines.value(0), title + "</H2>");
        QStringList seen;
        for (const QString &line : lines.mid(3, body.size()))
            seen << line.mid(24).chopped(4);
        QCOMPARE(seen, body);
        QCOMPARE(lines.value(3 + body.size()), "</P><H1 align=left>&nbsp;&nbsp;&nbsp;&nbsp;</H1>");
        QVERIFY(page.endsWith("</BODY></HTML>\r\n"));
    }

    // Sources and pages that cannot be converted are named, with the index
    // among them when it cannot be written; the index links only the pages
    // written. A source removed after the plan is reported too.
    void troubleIsReported_data()
    {
        QTest::addColumn<QString>("index"); // what stands at index.htm
        QTest::newRow("no index yet") << "";
        QTest::newRow("a folder named index.htm") << "dir";
        QTest::newRow("a read-only index") << "read-only";
    }
    void troubleIsReported()
    {
        QFETCH(QString, index);
        TempDir tmp;
        const QString dir = tmp.path();
        for (const char *name : {"a.txt", "c.txt", "d.txt", "e.txt", "f.txt"})
            write(dir, QByteArray(name), QByteArray(name).left(1));
        write(dir, QByteArray("b.txt"), QByteArray("\0\1\2", 3));
        write(dir, QByteArray("C.TXT"), "second c");
        QVERIFY(QDir(dir).mkdir("d.htm"));
        write(dir, QByteArray("f.htm"), "my own page");
        QCOMPARE(::chmod(path_of(dir, "f.htm").constData(), 0444), 0);
        if (index == "dir")
            QVERIFY(QDir(dir).mkdir("index.htm"));
        if (index == "read-only") {
            write(dir, QByteArray("index.htm"), "my own index");
            QCOMPARE(::chmod(path_of(dir, "index.htm").constData(), 0444), 0);
        }
        const ConvertPlan plan = plan_convert({dir, "T"});
        QVERIFY(QFile::remove(dir + "/e.txt"));
        const Report report = apply_convert(plan);
        QCOMPARE(report.changed, 2);
        QStringList named;
        for (const Problem &p : report.problems)
            named << p.name;
        QStringList expected{"b.txt", "c.txt", "d.txt", "e.txt",
                             "f.txt"}; // C.TXT sorts first and makes c.htm
        QCOMPARE(named, index.isEmpty() ? expected : expected << "index.htm");
        QCOMPARE(report.indexWritten, index.isEmpty());
        QCOMPARE(read(dir, QByteArray("f.htm")), "my own page");
        if (index.isEmpty())
            QCOMPARE(index_targets(dir), (QList<QByteArray>{"a.htm", "c.htm"}));
        else if (index == "read-only")
            QCOMPARE(read(dir, QByteArray("index.htm")), "my own index");
    }

    // Text with LF line ends, as this platform writes it, makes the same page
    // as its CR LF twin.
    void lineEnds()
    {
        TempDir tmp;
        for (const QByteArray &text : {gbk(u("标题\r\n\r\n正文\r\n")), u("标题\r\n正文").toUtf8()}) {
            write(tmp.path(), QByteArray("crlf.txt"), text);
            write(tmp.path(), QByteArray("lf.txt"), QByteArray(text).replace("\r\n", "\n"));
            const Report report = run_convert({tmp.path(), "T"});
            QCOMPARE(report.problems.size(), 0);
            QCOMPARE(read(tmp.path(), QByteArray("lf.htm")), read(tmp.path(), QByteArray("crlf.htm")));
            QVERIFY(read(tmp.path(), QByteArray("lf.htm")).contains(gbk(u("标题</H2>"))));
        }
    }

    // The preview reads every text file; the window's bar moves meanwhile. Asked to stop (here at
    // the first file), it reads no more, and the plan cannot run.
    void previewReportsProgress()
    {
        TempDir tmp;
        for (const char *name : {"a.txt", "b.txt", "c.dat"})
            write(tmp.path(), QByteArray(name), "x");
        for (const bool stopping : {false, true}) {
            QList<int> values;
            StopRequest stop{false};
            const ConvertPlan plan = plan_convert(
                {tmp.path(), "T"}, true,
                [&](int value, int maximum) { values << value * 10 + maximum, stop = stopping; }, &stop);
            QCOMPARE(values, stopping ? QList<int>{4} : (QList<int>{4, 14, 24}));
            QCOMPARE(plan.ok(), !stopping);
        }
    }
};

QTEST_GUILESS_MAIN(TestConvert)
#include "tst_convert.moc"
