// Find and replace: every byte but the replaced text stays, files without an
// occurrence are not touched, and what cannot be done safely is reported.

#include "testutil.h"

#include "files/charsetguess.h"
#include "files/linefile.h"
#include "ops/replace.h"

#include <sys/xattr.h>

using namespace torvale;
using namespace testutil;

Q_DECLARE_METATYPE(Charset)

namespace {

QString named(const Guess &guess)
{
    const char *names[] = {"ASCII", "UTF-8", "UTF-8 BOM", "GBK", "GB18030", "UTF-16LE", "UTF-16BE"};
    return guess.kind == Guess::Kind::Text        ? names[int(guess.charset)]
           : guess.kind == Guess::Kind::Ambiguous ? "ambiguous"
                                                  : "not text";
}

// The guess on a file read as a run reads it: in pieces of lines.
QString read_as_a_run_does(const QString &dir, const QByteArray &name)
{
    QString error;
    const auto folder = Folder::open(dir, &error, false);
    FileReader reader;
    Charset charset;
    if (!folder || !reader.open(*folder, name, nullptr, &error))
        return error;
    if (scan_text_file(reader, &charset, &error))
        return named({Guess::Kind::Text, charset, charset});
    return error.startsWith(u("编码不明确")) ? "ambiguous" : error == kNotTextReason ? "not text" : error;
}

} // namespace

class TestReplace : public QObject
{
    Q_OBJECT

private slots:
    void withinBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Charset>("charset");
        QTest::addColumn<QByteArray>("find");
        QTest::addColumn<QByteArray>("replacement");
        QTest::addColumn<QByteArray>("result");
        QTest::addColumn<int>("count");
        const Charset G = Charset::Gbk, U = Charset::Utf8;
        QTest::newRow("aaa, aa -> b gives ba")
            << QByteArray("aaa") << G << QByteArray("aa") << QByteArray("b") << QByteArray("ba") << 1;
        QTest::newRow("inserted text is not searched again")
            << QByteArray("xax") << G << QByteArray("x") << QByteArray("xx") << QByteArray("xxaxx") << 2;
        QTest::newRow("empty replacement deletes")
            << QByteArray("a-b-c") << G << QByteArray("-") << QByteArray() << QByteArray("abc") << 2;
        QTest::newRow("case matters")
            << QByteArray("Word") << G << QByteArray("word") << QByteArray("x") << QByteArray() << 0;
        QTest::newRow("line ends stay as they are") << QByteArray("a\r\nb\ra\nx a") << G << QByteArray("a")
                                                    << QByteArray("A") << QByteArray("A\r\nb\rA\nx A") << 3;
        QTest::newRow("never across CR LF")
            << QByteArray("a\r\nb") << G << QByteArray("\nb") << QByteArray("X") << QByteArray() << 0;
        QTest::newRow("no search text holds a CR")
            << QByteArray("a\rb") << G << QByteArray("a\rb") << QByteArray("X") << QByteArray() << 0;
        // 0x81 0x41 is one GBK character whose second byte is "A".
        QTest::newRow("GBK: second byte is not a match") << QByteArray("\x81\x41\x41") << G << QByteArray("A")
                                                         << QByteArray("z") << QByteArray("\x81\x41z") << 1;
        QTest::newRow("GBK: straddling bytes are not a match")
            << gbk(u("中中")) << G << QByteArray("\xD0\xD6") << QByteArray("x") << QByteArray() << 0;
        QTest::newRow("UTF-8 Chinese") << u("你好世界").toUtf8() << U << u("世界").toUtf8()
                                       << u("朋友").toUtf8() << u("你好朋友").toUtf8() << 1;
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

    // How a file reads and what a whole run makes of it: the guess on its
    // bytes, the same when it is read in pieces of lines as a run reads it,
    // its bytes afterwards and why it was left alone; its owner and mode
    // kept (the owner when run as root), and a file left as it was not even
    // touched.
    void files_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<QString>("guess");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("reason"); // the start of it; empty when the file was not named
        QTest::addColumn<int>("mode");
        const QString unheld = u("替换字符串中有该文件编码无法表示的字符");
        QTest::newRow("short UTF-8 (echo 你好 > a.txt)") << u("你好\n").toUtf8() << u("你好") << u("再见")
                                                         << "UTF-8" << u("再见\n").toUtf8() << "" << 0644;
        QTest::newRow("short UTF-8, 数据")
            << u("数据,1").toUtf8() << u("数据") << u("表") << "UTF-8" << u("表,1").toUtf8() << "" << 0644;
        QTest::newRow("short UTF-8, 页面") << u("页面").toUtf8() << u("页") << "x"
                                           << "UTF-8" << u("x面").toUtf8() << "" << 0644;
        QTest::newRow("UTF-8 whose GBK reading has user-defined characters")
            << u("中文内容 and more 中文").toUtf8() << u("中文") << u("汉语") << "UTF-8"
            << u("汉语内容 and more 汉语").toUtf8() << "" << 0644;
        QTest::newRow("GBK 司遥, valid UTF-8 too (˾ң)")
            << gbk(u("司遥")) << u("遥") << u("瑶") << "GBK" << gbk(u("司瑶")) << "" << 0640;
        QTest::newRow("GBK, Chinese texts") << gbk(u("旧名字\r\n还是旧名字")) << u("旧") << u("新") << "GBK"
                                            << gbk(u("新名字\r\n还是新名字")) << "" << 0640;
        QTest::newRow("0x80 is the euro sign in GBK only")
            << QByteArray("\x80 old") << "old" << u("€") << "GBK" << QByteArray("\x80 \x80") << "" << 0644;
        QTest::newRow("GBK cannot hold the replacement")
            << gbk(u("旧")) << u("旧") << u("😀") << "GBK" << gbk(u("旧")) << unheld << 0644;
        QTest::newRow("café: UTF-8, though GBK reads 茅") << QByteArray("caf\xC3\xA9 old") << "old" << u("新")
                                                          << "UTF-8" << u("café 新").toUtf8() << "" << 0644;
        QTest::newRow("UTF-8 takes any character")
            << u("a旧\n旧").toUtf8() << u("旧") << u("😀") << "UTF-8" << u("a😀\n😀").toUtf8() << "" << 0644;
        QTest::newRow("UTF-8 BOM kept") << QByteArray("\xEF\xBB\xBFold") << "old"
                                        << "new"
                                        << "UTF-8 BOM" << QByteArray("\xEF\xBB\xBFnew") << "" << 0644;
        QTest::newRow("BOM, then not UTF-8")
            << QByteArray("\xEF\xBB\xBF\xFF\xFE") << "x"
            << "y"
            << "not text" << QByteArray("\xEF\xBB\xBF\xFF\xFE") << "" << 0644;
        QTest::newRow("too close to call: 路 or ·")
            << gbk(u("路")) << u("路") << u("道") << "ambiguous" << gbk(u("路"))
            << u("编码不明确（既可读作 UTF-8，也可读作 GBK）") << 0644;
        QTest::newRow("too close to call, but either reading gives these bytes")
            << gbk(u("路 old")) << "old"
            << "new"
            << "ambiguous" << gbk(u("路 new")) << "" << 0644;
        QTest::newRow("GB18030: four bytes outside GBK") << gb18030(u("𠮷野家\r\n")) << u("野家") << u("屋")
                                                         << "GB18030" << gb18030(u("𠮷屋\r\n")) << "" << 0644;
        QTest::newRow("GB18030: the four bytes found, any character written")
            << gb18030(u("𠮷4")) << u("𠮷") << u("😀") << "GB18030" << gb18030(u("😀4")) << "" << 0644;
        // 𠮷 is 95 34 B2 35: its "4" is no hit.
        QTest::newRow("GB18030: no hit inside four bytes") << gb18030(u("𠮷4")) << "4"
                                                           << "x"
                                                           << "GB18030" << gb18030(u("𠮷x")) << "" << 0644;
        // 𠮷𠮷 is 95 34 B2 35 95 34 B2 35: B2 35 95 34 across them is U+7A2D8.
        QTest::newRow("GB18030: no hit across four bytes")
            << gb18030(u("𠮷𠮷")) << QString::fromUcs4(U"\U0007A2D8") << "x"
            << "GB18030" << gb18030(u("𠮷𠮷")) << "" << 0644;
        QTest::newRow("GB18030 reads FE63 as U+39DF, GBK as user-defined")
            << QByteArray("\xFE\x63!") << u("\u39DF") << "x"
            << "GB18030" << QByteArray("x!") << "" << 0644;
        QTest::newRow("UTF-16LE: BOM, line ends and order kept")
            << "\xFF\xFE" + le(u("你好\r\n世界\n世界")) << u("世界") << u("朋友") << "UTF-16LE"
            << "\xFF\xFE" + le(u("你好\r\n朋友\n朋友")) << "" << 0644;
        QTest::newRow("UTF-16BE: surrogate pairs whole")
            << "\xFE\xFF" + be(u("a😀b\r😀")) << u("😀") << u("𠮷") << "UTF-16BE"
            << "\xFE\xFF" + be(u("a𠮷b\r𠮷")) << "" << 0644;
        // 䅂 and U+3000 are 42 41 00 30: "A" (41 00) across them is no hit.
        QTest::newRow("UTF-16LE: no hit across code units") << "\xFF\xFE" + le(u("䅂\u3000A")) << "A"
                                                            << "B"
                                                            << "UTF-16LE"
                                                            << "\xFF\xFE" + le(u("䅂\u3000B")) << "" << 0644;
        QTest::newRow("UTF-16LE: a high surrogate alone is not text")
            << "\xFF\xFE" + le(u("ab")) + "\x3D\xD8" + le(u("a")) << "a"
            << "x"
            << "not text"
            << "\xFF\xFE" + le(u("ab")) + "\x3D\xD8" + le(u("a")) << u("不是文本文件") << 0644;
        QTest::newRow("UTF-16BE: a low surrogate alone is not text")
            << "\xFE\xFF" + be(u("a")) + QByteArray("\xDC\x00", 2) << "a"
            << "x"
            << "not text"
            << "\xFE\xFF" + be(u("a")) + QByteArray("\xDC\x00", 2) << u("不是文本文件") << 0644;
        QTest::newRow("UTF-16BE: half a pair is no search text")
            << "\xFE\xFF" + be(u("😀")) << QString(QChar(0xD83D)) << "x"
            << "UTF-16BE"
            << "\xFE\xFF" + be(u("😀")) << "" << 0644;
        QTest::newRow("UTF-16LE without BOM: binary")
            << le(u("hi")) << "h"
            << "x"
            << "not text" << le(u("hi")) << u("不是文本文件") << 0644;
        QTest::newRow("UTF-16LE without BOM: 中 is the ASCII -N") << le(u("中")) << u("中") << "x"
                                                                  << "ASCII" << le(u("中")) << "" << 0644;
        QTest::newRow("ASCII takes the replacement in GBK")
            << QByteArray("a.b") << "." << u("。") << "ASCII" << gbk(u("a。b")) << "" << 0644;
        QTest::newRow("ASCII takes what GBK lacks in UTF-8")
            << QByteArray("a.b") << "." << u("😀") << "ASCII" << u("a😀b").toUtf8() << "" << 0644;
        const QByteArray russian = u("Привет, мир! Это проверка.\n").repeated(4).toUtf8();
        QTest::newRow("long UTF-8 that GBK reads too: the likelier wins")
            << russian << u("мир") << u("свет") << "UTF-8"
            << QString(russian).replace(u("мир"), u("свет")).toUtf8() << "" << 0644;
        const QString chapter = u("第一章 北京的冬天，old 雪。\r\n").repeated(50000);
        QTest::newRow("long UTF-16LE")
            << "\xFF\xFE" + le(chapter) << "old" << u("新") << "UTF-16LE"
            << "\xFF\xFE" + le(QString(chapter).replace("old", u("新"))) << "" << 0644;
        QTest::newRow("long GBK, GB18030 only in its last line")
            << gbk(chapter) + gb18030(u("𠮷")) << u("北京") << u("上海") << "GB18030"
            << gbk(QString(chapter).replace(u("北京"), u("上海"))) + gb18030(u("𠮷")) << "" << 0644;
        QTest::newRow("long UTF-8, then not UTF-8 in its last line")
            << chapter.toUtf8() + "\xFF"
            << "old"
            << "new"
            << "not text" << chapter.toUtf8() + "\xFF" << u("不是文本文件") << 0644;
        QTest::newRow("lone CR and no final line end kept")
            << QByteArray("x\ry\r\nx") << "x"
            << "z"
            << "ASCII" << QByteArray("z\ry\r\nz") << "" << 0644;
        QTest::newRow("set-user-ID is not kept") << QByteArray("old") << "old"
                                                 << "new"
                                                 << "ASCII" << QByteArray("new") << "" << 04755;
        QTest::newRow("no occurrence: untouched") << QByteArray("abc\n") << "zzz"
                                                  << "y"
                                                  << "ASCII" << QByteArray("abc\n") << "" << 0644;
        QTest::newRow("read-only file") << QByteArray("old") << "old"
                                        << "new"
                                        << "ASCII" << QByteArray("old") << u("文件是只读的") << 0444;
        QTest::newRow("a UTF-8 mark on GBK text")
            << QByteArray("\xEF\xBB\xBF") + gbk(u("中文Abc\r\n")) << u("中文") << "x"
            << "not text" << QByteArray("\xEF\xBB\xBF") + gbk(u("中文Abc\r\n")) << u("不是文本文件") << 0644;
        const QByteArray unmarked = QStringEncoder("UTF-16LE").encode(u("你好 old\r\n"));
        QTest::newRow("UTF-16 without its mark") << unmarked << "old"
                                                 << "new"
                                                 << "not text" << unmarked << u("不是文本文件") << 0644;
        QTest::newRow("binary file") << QByteArray("old\0", 4) << "old"
                                     << "new"
                                     << "not text" << QByteArray("old\0", 4) << u("不是文本文件") << 0644;
        // A novel with one paragraph per line: a line of megabytes, where
        // "字中" holds the bytes of "种" across its two characters; in a file
        // of 18 MB, too large to be kept whole, read again at each step.
        const QByteArray piece = gbk(u("中文字")).repeated(700);
        for (int lines : {250, 4300}) {
            const QByteArray size = QByteArray::number(lines * piece.size() >> 20) + " MB";
            QTest::newRow((size + " GBK line").constData())
                << (piece + "old").repeated(lines) << "old"
                << "new"
                << "GBK" << (piece + "new").repeated(lines) << "" << 0644;
            QTest::newRow((size + " GBK line, straddling bytes").constData())
                << piece.repeated(lines) << u("种") << "x"
                << "GBK" << piece.repeated(lines) << "" << 0644;
        }
        // Found hopeless at once, but the search text comes megabytes later.
        const QByteArray invalid = QByteArray("\x81\x7f\n") + QByteArray(2 << 20, 'x') + "\nold\n";
        QTest::newRow("not text, hit after 2 MB") << invalid << "old"
                                                  << "new"
                                                  << "not text" << invalid << u("不是文本文件") << 0644;
        // Large files whose start reads otherwise than the whole: read again, step by step.
        const QByteArray ascii = QByteArray("plain old line\n").repeated(1200000);
        QTest::newRow("18 MB, ASCII then UTF-8") << ascii + u("中文\n").toUtf8() << u("中") << "x"
                                                 << "UTF-8" << ascii + "x" + u("文\n").toUtf8() << "" << 0644;
        QTest::newRow("18 MB, ASCII then not text") << ascii + "\x81\x7f\n"
                                                    << "old"
                                                    << "new"
                                                    << "not text" << ascii + "\x81\x7f\n"
                                                    << u("不是文本文件") << 0644;
    }
    void files()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, find);
        QFETCH(QString, replacement);
        QFETCH(QString, guess);
        QFETCH(QByteArray, after);
        QFETCH(QString, reason);
        QFETCH(int, mode);
        QCOMPARE(named(guess_charset(before)), guess);
        TempDir tmp;
        write(tmp.path(), QByteArray("f.dat"), before);
        QCOMPARE(read_as_a_run_does(tmp.path(), "f.dat"), guess);
        const QByteArray path = path_of(tmp.path(), "f.dat");
        const uid_t owner = running_as_root() ? 65534 : ::getuid();
        QCOMPARE(::chown(path.constData(), owner, running_as_root() ? 65534 : ::getgid()), 0);
        QCOMPARE(::chmod(path.constData(), mode_t(mode)), 0);
        const timespec old[2] = {{1000000, 0}, {1000000, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, path.constData(), old, 0), 0);

        const Report report = run_replace({tmp.path(), find, replacement});
        QCOMPARE(read(tmp.path(), QByteArray("f.dat")), after);
        QCOMPARE(report.problems.size(), reason.isEmpty() ? 0 : 1);
        if (!reason.isEmpty())
            QVERIFY2(report.problems[0].reason.contains(reason), qPrintable(report.problems[0].reason));
        QCOMPARE(report.changed, before == after ? 0 : 1);
        struct stat st;
        QCOMPARE(::stat(path.constData(), &st), 0);
        QCOMPARE(st.st_uid, owner);
        QCOMPARE(st.st_mode & 07777, mode_t(mode & 01777));
        if (before == after)
            QCOMPARE(st.st_mtim.tv_sec, old[1].tv_sec); // not even touched
        QCOMPARE(snapshot(tmp.path()).size(), 1);       // nothing of ours left behind
    }

    // A rewritten file keeps its access control list and its other extended
    // attributes: its group's bits (the list's mask) grant nothing new.
    void keepsAccessList()
    {
        TempDir tmp;
        write(tmp.path(), QByteArray("s.txt"), "secret old");
        const QByteArray path = path_of(tmp.path(), "s.txt");
        QCOMPARE(::chmod(path.constData(), 0660), 0);
        // user::rw- user:65534:rw- group::--- mask::rw- other::---
        const quint32 acl[] = {2,          0x00060001, 0xFFFFFFFF, 0x00060002, 65534,     0x00000004,
                               0xFFFFFFFF, 0x00060010, 0xFFFFFFFF, 0x00000020, 0xFFFFFFFF};
        const QByteArray list(reinterpret_cast<const char *>(acl), sizeof acl);
        TORVALE_REQUIRE(!(::setxattr(path.constData(), "system.posix_acl_access", list.constData(),
                                     size_t(list.size()), 0) != 0 ||
                          ::setxattr(path.constData(), "user.origin", "mail", 4, 0) != 0),
                        "no access lists or extended attributes on this file system");
        QCOMPARE(run_replace({tmp.path(), "old", "new"}).changed, 1);
        QCOMPARE(read(tmp.path(), QByteArray("s.txt")), "secret new");
        QByteArray kept(256, '\0');
        kept.resize(
            int(::getxattr(path.constData(), "system.posix_acl_access", kept.data(), size_t(kept.size()))));
        QCOMPARE(kept, list);
        char origin[8] = {};
        QCOMPARE(::getxattr(path.constData(), "user.origin", origin, sizeof origin), ssize_t(4));
    }

    // The plan examined every file; a file changed before the run is
    // reported, not rewritten from what the plan saw (nor left unnamed
    // because the plan saw no hit in it).
    void changedAfterThePlan()
    {
        TempDir tmp;
        write(tmp.path(), QByteArray("a.txt"), "old");
        write(tmp.path(), QByteArray("b.txt"), "old");
        write(tmp.path(), QByteArray("c.txt"), "none");
        int done = 0; // the preview's bar moves to the end of the files
        const ReplacePlan plan = plan_replace({tmp.path(), "old", "new"}, true,
                                              [&](int value, int maximum) { done = value + maximum; });
        QCOMPARE(done, 3 + 4);
        QCOMPARE(plan.occurrences[0], 1);
        StopRequest stop{true}; // a preview stopped: no file is read, and the plan cannot run
        const ReplacePlan stopped = plan_replace({tmp.path(), "old", "new"}, true, {}, &stop);
        QCOMPARE(stopped.occurrences, std::vector<qint32>(3, -1));
        QVERIFY(!stopped.ok());
        write(tmp.path(), QByteArray("a.txt"), "old and mine");
        write(tmp.path(), QByteArray("c.txt"), "old");
        const Report report = apply_replace(plan);
        QCOMPARE(report.changed, 1);
        QCOMPARE(report.problems.size(), 2);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(report.problems[i].name, i == 0 ? "a.txt" : "c.txt");
            QVERIFY2(report.problems[i].reason.startsWith(kChangedSincePlan),
                     qPrintable(report.problems[i].reason));
        }
        QCOMPARE(read(tmp.path(), QByteArray("a.txt")), "old and mine");
        QCOMPARE(read(tmp.path(), QByteArray("c.txt")), "old");
        QCOMPARE(read(tmp.path(), QByteArray("b.txt")), "new");
    }
};

QTEST_GUILESS_MAIN(TestReplace)
#include "tst_replace.moc"
