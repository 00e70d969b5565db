// Find and replace: every byte but the replaced text stays, files without an
// occurrence are not touched, and what cannot be done safely is reported.

#include "testutil.h"

#include "ops/replace.h"

#include <sys/xattr.h>

using namespace torvale;
using namespace testutil;

Q_DECLARE_METATYPE(Charset)

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

    // A whole run over one file: its bytes afterwards, whether it was
    // reported, and its owner and mode kept (the owner when run as root).
    void files_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<bool>("reported");
        QTest::addColumn<int>("mode");
        QTest::newRow("GBK file, Chinese texts") << gbk(u("旧名字\r\n还是旧名字")) << u("旧") << u("新")
                                                 << gbk(u("新名字\r\n还是新名字")) << false << 0640;
        QTest::newRow("UTF-8 file takes any character")
            << u("a旧\n旧").toUtf8() << u("旧") << u("😀") << u("a😀\n😀").toUtf8() << false << 0644;
        QTest::newRow("BOM kept") << QByteArray("\xEF\xBB\xBFold") << "old"
                                  << "new" << QByteArray("\xEF\xBB\xBFnew") << false << 0644;
        QTest::newRow("lone CR and no final line end kept")
            << QByteArray("x\ry\r\nx") << "x"
            << "z" << QByteArray("z\ry\r\nz") << false << 0644;
        QTest::newRow("set-user-ID is not kept") << QByteArray("old") << "old"
                                                 << "new" << QByteArray("new") << false << 04755;
        QTest::newRow("no occurrence: untouched") << QByteArray("abc\n") << "zzz"
                                                  << "y" << QByteArray("abc\n") << false << 0644;
        QTest::newRow("GBK cannot hold the replacement")
            << gbk(u("旧")) << u("旧") << u("😀") << gbk(u("旧")) << true << 0644;
        QTest::newRow("read-only file") << QByteArray("old") << "old"
                                        << "new" << QByteArray("old") << true << 0444;
        QTest::newRow("binary file") << QByteArray("old\0", 4) << "old"
                                     << "new" << QByteArray("old\0", 4) << true << 0644;
        // C3 A9 is "é" in UTF-8 and one character in GBK as well.
        QTest::newRow("either reading gives the same bytes")
            << QByteArray("caf\xC3\xA9 old") << "old"
            << "new" << QByteArray("caf\xC3\xA9 new") << false << 0644;
        QTest::newRow("longer UTF-8 Chinese is UTF-8")
            << u("苹果北京香蕉北京西瓜").toUtf8() << u("北京") << u("上海")
            << u("苹果上海香蕉上海西瓜").toUtf8() << false << 0644;
        // A novel with one paragraph per line: a line of a megabyte, where
        // "字中" holds the bytes of "种" across its two characters.
        const QByteArray piece = gbk(u("中文字")).repeated(700);
        QTest::newRow("1 MB GBK line") << (piece + "old").repeated(250) << "old"
                                       << "new" << (piece + "new").repeated(250) << false << 0644;
        QTest::newRow("1 MB GBK line, straddling bytes")
            << piece.repeated(250) << u("种") << "x" << piece.repeated(250) << false << 0644;
        // Found hopeless at once, but the search text comes megabytes later.
        const QByteArray invalid = QByteArray("\x81\x7f\n") + QByteArray(2 << 20, 'x') + "\nold\n";
        QTest::newRow("not text, hit after 2 MB") << invalid << "old"
                                                  << "new" << invalid << true << 0644;
        QTest::newRow("ambiguous: UTF-8 or GBK bytes?") << QByteArray("caf\xC3\xA9 old") << "old" << u("新")
                                                        << QByteArray("caf\xC3\xA9 old") << true << 0644;
    }
    void files()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, find);
        QFETCH(QString, replacement);
        QFETCH(QByteArray, after);
        QFETCH(bool, reported);
        QFETCH(int, mode);
        TempDir tmp;
        write(tmp.path(), QByteArray("f.dat"), before);
        const QByteArray path = path_of(tmp.path(), "f.dat");
        const uid_t owner = running_as_root() ? 65534 : ::getuid();
        QCOMPARE(::chown(path.constData(), owner, running_as_root() ? 65534 : ::getgid()), 0);
        QCOMPARE(::chmod(path.constData(), mode_t(mode)), 0);
        const timespec old[2] = {{1000000, 0}, {1000000, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, path.constData(), old, 0), 0);

        const Report report = run_replace({tmp.path(), find, replacement});
        QCOMPARE(read(tmp.path(), QByteArray("f.dat")), after);
        QCOMPARE(report.problems.size(), reported ? 1 : 0);
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
