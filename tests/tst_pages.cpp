#include "testutil.h"

#include "files/charset.h"
#include "files/linefile.h"
#include "files/textbuffer.h"
#include "ops/pages.h"

#include <QRegularExpression>
#include <QTemporaryDir>

using namespace torvale;
using namespace testutil;

namespace {

// The lines after the head, joined with CR LF, as the page file holds them.
QByteArray page_bytes(const QStringList &linesAfterHead)
{
    return gbk(Text6 + linesAfterHead.join("\r\n") + "\r\n");
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
    // The head: 39 lines of 960 characters, each ending with CR LF; the style
    // declarations begin with a tab; two of them end with a space.
    void headTemplate()
    {
        QCOMPARE(Text6.size(), 960);
        QCOMPARE(gbk(Text6).size(), 962);
        const QStringList lines = Text6.split("\r\n");
        QCOMPARE(lines.size(), 40); // and nothing after the last CR LF
        QCOMPARE(lines.first(), "<HTML><HEAD><TITLE></TITLE>");
        QCOMPARE(lines[1], "<META content=\"text/html; charset=gb2312\" http-equiv=Content-Type>");
        QCOMPARE(lines[38], "<H2 align=center>");
        QVERIFY(lines[6].endsWith("10pt; ") && lines[10].endsWith("normal; "));
        QVERIFY(lines[14].contains(u("宋体,times")));
        QCOMPARE(lines.filter(QRegularExpression("^\t")).size(), 10); // and no other tab:
        QCOMPARE(Text6.count('\t'), 10);
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
