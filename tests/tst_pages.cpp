#include "testutil.h"

#include "files/charset.h"
#include "files/linefile.h"
#include "files/textbuffer.h"
#include "ops/pages.h"

#include <QTemporaryDir>

using namespace torvale;
using namespace testutil;

namespace {

// The page head, written out line by line as pages carry it.
const char *const kHeadLines[] = {
    "<HTML><HEAD><TITLE></TITLE>",
    "<META content=\"text/html; charset=gb2312\" http-equiv=Content-Type>",
    "<STYLE type=text/css>BODY {",
    "\tMARGIN-LEFT: 0.5in; MARGIN-RIGHT: 0.5in; MARGIN-TOP: 0.2in",
    "}",
    "H1 {",
    "\tBACKGROUND: #009be6; COLOR: white; FONT-FAMILY: verdana,helvetica,arial,san-serif; FONT-SIZE: 10pt; ",
    "FONT-STYLE: normal",
    "}",
    "H2 {",
    "\tCOLOR: red; FONT-FAMILY: verdana,helvetica,arial,san-serif; FONT-SIZE: 18pt; FONT-STYLE: normal; ",
    "LINE-HEIGHT: 14pt",
    "}",
    "P {",
    "\tCOLOR: red; FONT-FAMILY: 宋体,times; FONT-SIZE: 10pt; FONT-STYLE: normal; LINE-HEIGHT: 14pt",
    "}",
    "P.left {",
    "\tCOLOR: #008080; TEXT-ALIGN: left",
    "}",
    "P.right {",
    "\tCOLOR: #0080ff; TEXT-ALIGN: right",
    "}",
    "A:link {",
    "\tCOLOR: red; FONT-SIZE: 10pt; TEXT-DECORATION: none",
    "}",
    "A:visited {",
    "\tCOLOR: red; FONT-SIZE: 10pt; TEXT-DECORATION: none",
    "}",
    "A:active {",
    "\tCOLOR: #ff8000; FONT-WEIGHT: bold",
    "}",
    "A:hover {",
    "\tCOLOR: #ff8000; FONT-WEIGHT: bold; TEXT-DECORATION: underline",
    "}",
    "</STYLE>",
    "</HEAD>",
    "<BODY>",
    "",
    "<H2 align=center>",
};

QString head()
{
    QString text;
    for (const char *line : kHeadLines)
        text += QString::fromUtf8(line) + "\r\n";
    return text;
}

// The lines after the head, joined with CR LF, as the page file holds them.
QByteArray page_bytes(const QStringList &linesAfterHead)
{
    return gbk(head() + linesAfterHead.join("\r\n") + "\r\n");
}

QByteArray written(const TextBuffer &buffer)
{
    QTemporaryDir tmp;
    const QString path = QDir(tmp.path()).filePath("page.htm");
    QString error;
    if (!write_buffer(path, buffer, &error))
        return "write failed: " + error.toUtf8();
    return read(tmp.path(), "page.htm");
}

} // namespace

class TestPages : public QObject
{
    Q_OBJECT

private slots:
    void headTemplate()
    {
        QCOMPARE(Text6, head());
        QCOMPARE(Text6.size(), 960);
        QCOMPARE(Text6.count("\r\n"), 39);
        QCOMPARE(gbk(Text6).size(), 962);
        QCOMPARE(Text7.size(), 60);
        QCOMPARE(Text8.size(), 50);
        QCOMPARE(Text10, QStringLiteral("\""));
    }

    // A page from a file whose only line is three letters: 1152 characters,
    // 1158 bytes in code page 936.
    void pageOfOneLine()
    {
        TextBuffer buffer;
        append_page_head(buffer, "abc");
        append_page_end(buffer);
        const QByteArray bytes = written(buffer);
        QCOMPARE(buffer.buffer_text().size() + 2, 1152);
        QCOMPARE(bytes.size(), 1158);
        QCOMPARE(bytes, page_bytes({"abc</H2>", "<H1 align=left>&nbsp;&nbsp;&nbsp;&nbsp;</H1><P class=left>", "",
                                    "</P><H1 align=left>&nbsp;&nbsp;&nbsp;&nbsp;</H1>", "<br>",
                                    "<p align=center><a HREF=\"index.htm\">返回目录</a></p></BODY></HTML>"}));
    }

    // Every further line that is not empty adds 30 characters and itself.
    void bodyLines()
    {
        TextBuffer buffer;
        append_page_head(buffer, escape_angles("<T> & t"));
        append_page_line(buffer, escape_angles("a<b>&c"));
        append_page_line(buffer, "");
        append_page_line(buffer, "   ");
        append_page_end(buffer);
        QCOMPARE(buffer.buffer_text().size() + 2, 1152 - 3 + 7 + (30 + 6) + (30 + 3));
        QCOMPARE(written(buffer),
                 page_bytes({"＜T＞ & t</H2>", "<H1 align=left>&nbsp;&nbsp;&nbsp;&nbsp;</H1><P class=left>", "",
                             "&nbsp;&nbsp;&nbsp;&nbsp;a＜b＞&c<br>", "&nbsp;&nbsp;&nbsp;&nbsp;   <br>",
                             "</P><H1 align=left>&nbsp;&nbsp;&nbsp;&nbsp;</H1>", "<br>",
                             "<p align=center><a HREF=\"index.htm\">返回目录</a></p></BODY></HTML>"}));
    }

    void indexWithoutPages()
    {
        TextBuffer buffer;
        append_index(buffer, " 我的文章 ", {});
        QCOMPARE(written(buffer),
                 page_bytes({" 我的文章 目录</H2>", "<H1 align=left>&nbsp;&nbsp;&nbsp;&nbsp;</H1><P class=left>", "",
                             "</P><H1 align=left>&nbsp;&nbsp;&nbsp;&nbsp;</H1>", "", "</BODY></HTML>"}));
    }

    // Every link line adds 69 characters, the name and the title.
    void indexLinks()
    {
        TextBuffer buffer;
        append_index(buffer, "T", {{"a.htm", "Alpha"}, {"my notes.htm", ""}, {u("笔记.htm"), u("标题")}});
        const QString nbsp8 = QString("&nbsp;").repeated(8);
        QCOMPARE(written(buffer),
                 page_bytes({"T目录</H2>", "<H1 align=left>&nbsp;&nbsp;&nbsp;&nbsp;</H1><P class=left>", "",
                             nbsp8 + "<a HREF=\"a.htm\">Alpha</a><BR>", nbsp8 + "<a HREF=\"my notes.htm\"></a><BR>",
                             nbsp8 + u("<a HREF=\"笔记.htm\">标题</a><BR>"),
                             "</P><H1 align=left>&nbsp;&nbsp;&nbsp;&nbsp;</H1>", "", "</BODY></HTML>"}));
        TextBuffer empty;
        append_index(empty, "T", {});
        QCOMPARE(buffer.buffer_text().size() - empty.buffer_text().size(),
                 3 * 69 + QString("a.htmAlphamy notes.htm笔记.htm标题").size());
    }

    void linkTargets_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("target");
        QTest::newRow("spaces and chinese stay") << u("我的 笔记.htm") << u("我的 笔记.htm");
        QTest::newRow("quote") << "a\"b.htm" << "a%22b.htm";
        QTest::newRow("hash, percent, question mark") << "#1 50% ok?.htm" << "%231 50%25 ok%3F.htm";
    }
    void linkTargets()
    {
        QFETCH(QString, name);
        QFETCH(QString, target);
        QCOMPARE(link_target(name), target);
    }
};

QTEST_GUILESS_MAIN(TestPages)
#include "tst_pages.moc"
