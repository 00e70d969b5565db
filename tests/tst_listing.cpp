#include "testutil.h"

#include "files/listing.h"
#include "files/workdir.h"

#include <QTemporaryDir>

#include <sys/stat.h>

using namespace torvale;
using namespace testutil;

class TestListing : public QObject
{
    Q_OBJECT

private slots:
    void extensionOf_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("extension");
        QTest::newRow("upper case") << "Report.TXT" << "txt";
        QTest::newRow("several dots: all after the first") << "archive.tar.GZ" << "tar.gz";
        QTest::newRow("no dot: the whole name") << "README" << "readme";
        QTest::newRow("leading dot") << ".profile" << "profile";
        QTest::newRow("ending in a dot") << "notes." << "";
        QTest::newRow("chinese") << u("笔记.Txt") << "txt";
    }
    void extensionOf()
    {
        QFETCH(QString, name);
        QFETCH(QString, extension);
        QCOMPARE(extension_of(name), extension);
    }

    void naturalOrder_data()
    {
        QTest::addColumn<QStringList>("shuffled");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("numbers by value") << QStringList{"10.txt", "2.txt", "1.txt"}
                                          << QStringList{"1.txt", "2.txt", "10.txt"};
        QTest::newRow("case ignored") << QStringList{"img_10.jpg", "IMG_9.JPG", "b", "A"}
                                      << QStringList{"A", "b", "IMG_9.JPG", "img_10.jpg"};
        QTest::newRow("leading zeros") << QStringList{"IMG_000010.JPG", "IMG_000002.JPG", "IMG_000001.JPG"}
                                       << QStringList{"IMG_000001.JPG", "IMG_000002.JPG", "IMG_000010.JPG"};
        QTest::newRow("prefix before longer") << QStringList{"ab", "a", "a1"} << QStringList{"a", "a1", "ab"};
        QTest::newRow("ties broken the same way") << QStringList{"a", "A", "01", "1"}
                                                  << QStringList{"01", "1", "A", "a"};
    }
    void naturalOrder()
    {
        QFETCH(QStringList, shuffled);
        QFETCH(QStringList, sorted);
        std::sort(shuffled.begin(), shuffled.end(), natural_less);
        QCOMPARE(shuffled, sorted);
    }

    // Only regular, visible files; everything else is left out.
    void plainFilesOnly()
    {
        QTemporaryDir tmp;
        const QString dir = tmp.path();
        write(dir, "b.txt", "b");
        write(dir, "10.txt", "");
        write(dir, "2.TXT", "2");
        write(dir, ".hidden", "h");
        QVERIFY(QDir(dir).mkdir("sub.txt"));
        QVERIFY(QFile::link(QDir(dir).filePath("b.txt"), QDir(dir).filePath("link.txt")));
        QVERIFY(QFile::link("/nonexistent", QDir(dir).filePath("dangling")));
        QCOMPARE(::mkfifo(QFile::encodeName(QDir(dir).filePath("fifo")).constData(), 0644), 0);

        const Listing listing = list_plain_files(dir);
        QVERIFY(listing.ok);
        QCOMPARE(listing.names, (QStringList{"2.TXT", "10.txt", "b.txt"}));
    }

    void missingDirectory()
    {
        QTemporaryDir tmp;
        const Listing listing = list_plain_files(QDir(tmp.path()).filePath("gone"));
        QVERIFY(!listing.ok);
        QVERIFY(listing.names.isEmpty());
        QVERIFY(!listing.error.isEmpty());
    }

    void trailingSeparator_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("root stays") << "/" << "/";
        QTest::newRow("gets one") << "/home/docs" << "/home/docs/";
        QTest::newRow("keeps one") << "/home/docs/" << "/home/docs/";
    }
    void trailingSeparator()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(with_trailing_separator(path), expected);
    }

    void protectedFolders_data()
    {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("folder");
        QTest::newRow("root") << "/" << "/";
        QTest::newRow("usr") << "/usr" << "/usr";
        QTest::newRow("below usr") << "/usr/share/doc" << "/usr";
        QTest::newRow("etc") << "/etc" << "/etc";
        QTest::newRow("proc") << "/proc/self" << "/proc";
        QTest::newRow("a lib folder") << "/lib64/nonexistent" << "/lib64";
        QTest::newRow("dotted path") << "/tmp/../etc" << "/etc";
        QTest::newRow("home is fine") << "/home/someone/photos" << "";
        QTest::newRow("a name that only begins like usr") << "/usrdata" << "";
        QTest::newRow("tmp is fine") << QDir::tempPath() << "";
    }
    void protectedFolders()
    {
        QFETCH(QString, dir);
        QFETCH(QString, folder);
        QCOMPARE(protected_folder_of(dir), folder);
    }

    // A link into a system folder is judged by where it leads.
    void protectedThroughLink()
    {
        QTemporaryDir tmp;
        const QString link = QDir(tmp.path()).filePath("etc-link");
        QVERIFY(QFile::link("/etc", link));
        QCOMPARE(protected_folder_of(link), QStringLiteral("/etc"));
    }
};

QTEST_GUILESS_MAIN(TestListing)
#include "tst_listing.moc"
