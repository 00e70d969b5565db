// The pages byte for byte: the layout that browsers and other programs
// read, and the links of the index.

#include "testutil.h"

#include "files/linefile.h"
#include "files/textbuffer.h"
#include "ops/pages.h"

using namespace torvale;
using namespace testutil;

namespace {

const QString kBar = "<H1 align=left>&nbsp;&nbsp;&nbsp;&nbsp;</H1><P class=left>";
const QString kLowerBar = "</P><H1 align=left>&nbsp;&nbsp;&nbsp;&nbsp;</H1>";
const QString kBackLink = u("<p align=center><a HREF=\"index.htm\">返回目录</a></p></BODY></HTML>");

// The lines after the head, joined with CR LF, as the page file holds them.
QByteArray page_bytes(const QStringList &linesAfterHead)
{
    return gbk(kPageHead + linesAfterHead.join("\r\n") + "\r\n");
}

QByteArray written(TextBuffer buffer)
{
    TempDir tmp;
    QString error;
    const auto folder = Folder::open(tmp.path(), &error);
    BufferWriter writer;
    if (!folder || !writer.begin(*folder, "page.htm", nullptr, &error) ||
        !writer.close(buffer, &error, true) || !writer.publish(&error))
        return "write failed: " + error.toUtf8();
    return read(tmp.path(), QByteArray("page.htm"));
}

} // namespace

class TestPages : public QObject
{
    Q_OBJECT

private slots:
    // A page from a file whose only line is three letters: 1152 characters,
    // 1158 bytes in code page 936, ending with its closing lines.
    void pageOfOneLine()
    {
        TextBuffer buffer;
        append_page_head(buffer, "abc");
        append_page_end(buffer);
        const QByteArray bytes = written(buffer);
        QCOMPARE(bytes.size(), 1158);
        QCOMPARE(bytes, page_bytes({"abc</H2>", kBar, "", kLowerBar, "<br>", kBackLink}));
    }

    // The index: heading, one link line per page, an empty line after the
    // lower bar. Link targets lead to the pages' exact names.
    void index_data()
    {
        QTest::addColumn<QList<QByteArray>>("pages");
        QTest::addColumn<QStringList>("links");
        QTest::newRow("no page") << QList<QByteArray>{} << QStringList{};
        QTest::newRow("spaces and Chinese stay") << QList<QByteArray>{"a.htm", u("我的 笔记.htm").toUtf8()}
                                                 << QStringList{"a.htm", u("我的 笔记.htm")};
        QTest::newRow("characters that change an attribute")
            << QList<QByteArray>{"R&D \"#1\" 50% ok?<b>.htm"}
            << QStringList{"R%26D %22%231%22 50%25 ok%3F%3Cb%3E.htm"};
        QTest::newRow("a line feed, a leading space")
            << QList<QByteArray>{"a\nb.htm", " c.htm"} << QStringList{"a%0Ab.htm", "%20c.htm"};
        QTest::newRow("a scheme, a host") << QList<QByteArray>{"javascript:x.htm", "\\\\h\\x.htm"}
                                          << QStringList{"javascript%3Ax.htm", "%5C%5Ch%5Cx.htm"};
        QTest::newRow("GBK name whose second byte is a backslash")
            << QList<QByteArray>{"\x81\x5C.htm"} << QStringList{"%81%5C.htm"};
        QTest::newRow("GBK name: its bytes")
            << QList<QByteArray>{gbk(u("中文.htm"))} << QStringList{"%D6%D0%CE%C4.htm"};
    }
    void index()
    {
        QFETCH(QList<QByteArray>, pages);
        QFETCH(QStringList, links);
        QList<IndexEntry> entries;
        for (const QByteArray &page : pages)
            entries.append({FileName::from_bytes(page), "T"});
        TextBuffer buffer;
        append_index(buffer, u(" 我的文章 "), entries);
        QStringList lines{u(" 我的文章 目录</H2>"), kBar, ""};
        for (const QString &link : links)
            lines << QString("&nbsp;").repeated(8) + "<a HREF=\"" + link + "\">T</a><BR>";
        QCOMPARE(written(buffer), page_bytes(lines << kLowerBar << ""
                                                   << "</BODY></HTML>"));
    }
};

QTEST_GUILESS_MAIN(TestPages)
#include "tst_pages.moc"
