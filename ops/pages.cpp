#include "pages.h"

#include "files/textbuffer.h"

namespace torvale {

// The page head, 39 lines of 960 characters, each line ending with CR LF.
// Two lines of the style sheet end with a space; the declarations start with a tab.
const QString kPageHead = QString::fromUtf8(
    "<HTML><HEAD><TITLE></TITLE>\r\n"
    "<META content=\"text/html; charset=gb2312\" http-equiv=Content-Type>\r\n"
    "<STYLE type=text/css>BODY {\r\n"
    "\tMARGIN-LEFT: 0.5in; MARGIN-RIGHT: 0.5in; MARGIN-TOP: 0.2in\r\n"
    "}\r\n"
    "H1 {\r\n"
    "\tBACKGROUND: #009be6; COLOR: white; FONT-FAMILY: verdana,helvetica,arial,san-serif; FONT-SIZE: 10pt; "
    "\r\n"
    "FONT-STYLE: normal\r\n"
    "}\r\n"
    "H2 {\r\n"
    "\tCOLOR: red; FONT-FAMILY: verdana,helvetica,arial,san-serif; FONT-SIZE: 18pt; FONT-STYLE: normal; \r\n"
    "LINE-HEIGHT: 14pt\r\n"
    "}\r\n"
    "P {\r\n"
    "\tCOLOR: red; FONT-FAMILY: 宋体,times; FONT-SIZE: 10pt; FONT-STYLE: normal; LINE-HEIGHT: 14pt\r\n"
    "}\r\n"
    "P.left {\r\n"
    "\tCOLOR: #008080; TEXT-ALIGN: left\r\n"
    "}\r\n"
    "P.right {\r\n"
    "\tCOLOR: #0080ff; TEXT-ALIGN: right\r\n"
    "}\r\n"
    "A:link {\r\n"
    "\tCOLOR: red; FONT-SIZE: 10pt; TEXT-DECORATION: none\r\n"
    "}\r\n"
    "A:visited {\r\n"
    "\tCOLOR: red; FONT-SIZE: 10pt; TEXT-DECORATION: none\r\n"
    "}\r\n"
    "A:active {\r\n"
    "\tCOLOR: #ff8000; FONT-WEIGHT: bold\r\n"
    "}\r\n"
    "A:hover {\r\n"
    "\tCOLOR: #ff8000; FONT-WEIGHT: bold; TEXT-DECORATION: underline\r\n"
    "}\r\n"
    "</STYLE>\r\n"
    "</HEAD>\r\n"
    "<BODY>\r\n"
    "\r\n"
    "<H2 align=center>\r\n");

const QString kBodyOpening = QStringLiteral("<H1 align=left>&nbsp;&nbsp;&nbsp;&nbsp;</H1><P class=left>\r\n");
const QString kBodyClosing = QStringLiteral("</P><H1 align=left>&nbsp;&nbsp;&nbsp;&nbsp;</H1>\r\n");

const QString kIndexName = QStringLiteral("index.htm");

namespace {

constexpr QStringView kCrLf = u"\r\n";

} // namespace

QString escape_angles(QString line)
{
    line.replace(QLatin1Char('<'), QChar(0xFF1C));
    line.replace(QLatin1Char('>'), QChar(0xFF1E));
    return line;
}

void append_page_head(TextBuffer &buffer, const QString &title)
{
    buffer.buffer_append(kPageHead);
    buffer.buffer_append(title);
    buffer.buffer_append(u"</H2>");
    buffer.buffer_append(kCrLf);
    buffer.buffer_append(kBodyOpening);
    buffer.buffer_append(kCrLf);
}

void append_page_line(TextBuffer &buffer, const QString &line)
{
    if (line.isEmpty())
        return;
    buffer.buffer_append(u"&nbsp;&nbsp;&nbsp;&nbsp;");
    buffer.buffer_append(line);
    buffer.buffer_append(u"<br>");
    buffer.buffer_append(kCrLf);
}

void append_page_end(TextBuffer &buffer)
{
    buffer.buffer_append(kBodyClosing);
    buffer.buffer_append(u"<br>\r\n");
    buffer.buffer_append(u"<p align=center><a HREF=\"");
    buffer.buffer_append(kIndexName);
    buffer.buffer_append(u"\">");
    buffer.buffer_append(u"返回目录");
    buffer.buffer_append(u"</a></p>");
    buffer.buffer_append(u"</BODY></HTML>");
}

namespace {

// A character that would end the attribute, start a character reference,
// or be taken as part of the address rather than the file name: a scheme
// ("javascript:"), a host (two backslashes), a query or a fragment.
bool needs_percent(uchar c)
{
    return c < 0x20 || c == 0x7F || c == '"' || c == '#' || c == '%' || c == '?' || c == '&' || c == '<' ||
           c == '>' || c == '\\' || c == ':';
}

QString percent(uchar c)
{
    return QStringLiteral("%%1").arg(c, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

QString link_target(const FileName &page)
{
    // Characters of a UTF-8 name; bytes of any other, each byte beyond ASCII
    // percent-encoded so that the link leads to exactly those bytes.
    QStringList units;
    if (page.coding == FileName::Coding::Utf8) {
        for (QChar c : page.text())
            units << (c.unicode() < 0x80 && needs_percent(uchar(c.unicode())) ? percent(uchar(c.unicode()))
                                                                              : QString(c));
    } else {
        for (char b : page.bytes)
            units << (uchar(b) >= 0x80 || needs_percent(uchar(b)) ? percent(uchar(b))
                                                                  : QString(QLatin1Char(b)));
    }
    // Browsers drop spaces at either end of an address: those are encoded too.
    for (qsizetype i = 0; i < units.size() && units[i] == QLatin1String(" "); ++i)
        units[i] = QStringLiteral("%20");
    for (qsizetype i = units.size() - 1; i >= 0 && units[i] == QLatin1String(" "); --i)
        units[i] = QStringLiteral("%20");
    return units.join(QString());
}

void append_index(TextBuffer &buffer, const QString &title, const QList<IndexEntry> &pages)
{
    buffer.buffer_append(kPageHead);
    buffer.buffer_append(title + QStringLiteral("目录"));
    buffer.buffer_append(u"</H2>");
    buffer.buffer_append(kCrLf);
    buffer.buffer_append(kBodyOpening);
    buffer.buffer_append(kCrLf);
    for (const IndexEntry &page : pages) {
        buffer.buffer_append(u"&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;<a HREF=\"");
        buffer.buffer_append(link_target(page.page));
        buffer.buffer_append(u"\">");
        buffer.buffer_append(page.title);
        buffer.buffer_append(u"</a><BR>");
        buffer.buffer_append(kCrLf);
    }
    buffer.buffer_append(kBodyClosing);
    buffer.buffer_append(kCrLf);
    buffer.buffer_append(u"</BODY></HTML>");
}

} // namespace torvale
