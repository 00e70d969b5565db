// The rules under every operation: lines, character sets, file names, the
// order of files, the system-folder guard and the number rule.

#include "testutil.h"

#include "files/charsetguess.h"
#include "files/filename.h"
#include "files/linefile.h"
#include "files/listing.h"
#include "files/workdir.h"
#include "ops/convert.h"
#include "ops/number.h"

#include <QStringDecoder>

#include <cmath>

using namespace torvale;
using namespace testutil;

class TestText : public QObject
{
    Q_OBJECT

private slots:
    void lines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty text has no lines") << "" << QStringList{};
        QTest::newRow("CR LF at the end gives no empty last line") << "a\r\nb\r\n" << QStringList{"a", "b"};
        QTest::newRow("two CR LF make an empty line") << "a\r\n\r\nb" << QStringList{"a", "", "b"};
        QTest::newRow("lone CR ends a line") << "a\rb" << QStringList{"a", "b"};
        QTest::newRow("lone LF ends a line") << "a\nb\n" << QStringList{"a", "b"};
        QTest::newRow("CR LF then LF: an empty line") << "a\r\n\nb" << QStringList{"a", "", "b"};
        QTest::newRow("LF CR: two line ends") << "a\n\rb" << QStringList{"a", "", "b"};
    }
    void lines()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, lines);
        QStringList seen;
        split_lines(text, [&](const QString &line) { seen << line; });
        QCOMPARE(seen, lines);
    }

    // The look-up table answers as the codec does, for every byte pair and
    // every character: text when the codec converts there and back exactly.
    void gbkAgreesWithTheCodec()
    {
        QString why;
        QVERIFY2(character_sets_available(&why), qPrintable(why));
        auto roundTrip = [](const QByteArray &bytes, const QString &text) {
            QStringDecoder decoder("GBK", QStringDecoder::Flag::Stateless);
            QStringEncoder encoder("GBK", QStringEncoder::Flag::Stateless);
            return decoder.decode(bytes) == text && !decoder.hasError() && encoder.encode(text) == bytes &&
                   !encoder.hasError();
        };
        int mismatches = 0;
        for (int pair = 0x8040; pair <= 0xFFFF; ++pair) {
            const QByteArray bytes{char(pair >> 8), char(pair & 0xFF)};
            QStringDecoder decoder("GBK", QStringDecoder::Flag::Stateless);
            const bool text = roundTrip(bytes, decoder.decode(bytes));
            if (!is_valid_utf8(bytes) && (guess_charset(bytes).is_text() != text ||
                                          (text && !roundTrip(bytes, decode(bytes, Charset::Gbk)))))
                ++mismatches;
        }
        for (char16_t c = 0x20; c < 0xD800; ++c) {
            const std::optional<QByteArray> ours = encode(QString(QChar(c)), Charset::Gbk);
            QStringEncoder encoder("GBK", QStringEncoder::Flag::Stateless);
            if (ours.has_value() != roundTrip(encoder.encode(QString(QChar(c))), QString(QChar(c))) ||
                (ours && !roundTrip(*ours, QString(QChar(c)))))
                ++mismatches;
        }
        QCOMPARE(mismatches, 0);
    }

    // GB18030's four-byte sequences are text exactly where the codec reads
    // one character and writes it back the same: all the range of the Basic
    // Multilingual Plane and beyond, a sample of the other planes.
    void gb18030AgreesWithTheCodec()
    {
        int mismatches = 0;
        for (int a = 0x81; a <= 0xFE; ++a) {
            for (int b = 0x30; b <= 0x39; ++b) {
                for (int c = 0x81; c <= 0xFE; c += a <= 0x84 ? 1 : 7) {
                    for (int d = 0x30; d <= 0x39; d += a <= 0x84 ? 1 : 3) {
                        const char four[] = {char(a), char(b), char(c), char(d)};
                        const QByteArray bytes(four, 4);
                        QStringDecoder decoder("GB18030", QStringDecoder::Flag::Stateless);
                        const QString text = decoder.decode(bytes);
                        const bool ok =
                            !decoder.hasError() && QStringEncoder("GB18030").encode(text) == bytes;
                        const Guess guess = guess_charset(bytes);
                        mismatches +=
                            guess.is_text() != ok || (ok && (guess.charset != Charset::Gb18030 ||
                                                             decode(bytes, Charset::Gb18030) != text));
                    }
                }
            }
        }
        QCOMPARE(mismatches, 0);
    }

    // Names are bytes: shown as UTF-8, else GBK, else with the bad bytes
    // escaped; extensions and page names keep the bytes of their characters.
    void fileNames_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("extension");
        QTest::addColumn<QByteArray>("page");
        QTest::newRow("upper case") << QByteArray("ReadMe.TXT") << "ReadMe.TXT" << QByteArray("txt")
                                    << QByteArray("readme.htm");
        QTest::newRow("several dots")
            << QByteArray("a.TAR.gz") << "a.TAR.gz" << QByteArray("tar.gz") << QByteArray("a.ta.htm");
        QTest::newRow("no dot: the whole name")
            << QByteArray("TXT") << "TXT" << QByteArray("txt") << QByteArray("txt.htm");
        QTest::newRow("UTF-8 letters lower-cased")
            << u("Ä.TXT").toUtf8() << u("Ä.TXT") << QByteArray("txt") << u("ä.htm").toUtf8();
        // 0x81 0x41 is one GBK character whose second byte is "A".
        QTest::newRow("GBK: a second byte is no letter")
            << QByteArray("\x81\x41X.\x81\x41T") << u("丄X.丄T〔GBK 文件名〕") << QByteArray("\x81\x41t")
            << QByteArray("\x81\x41x.htm");
        QTest::newRow("UTF-8 that GBK reads too")
            << u("数据.Csv").toUtf8() << u("数据.Csv") << QByteArray("csv") << u("数据.htm").toUtf8();
        QTest::newRow("GBK that UTF-8 reads too (˾ң)")
            << gbk(u("司遥.TXT")) << u("司遥.TXT〔GBK 文件名〕") << QByteArray("txt") << gbk(u("司遥.htm"));
        QTest::newRow("GB18030: four bytes") << gb18030(u("𠮷.TXT")) << u("𠮷.TXT〔GB18030 文件名〕")
                                             << QByteArray("txt") << gb18030(u("𠮷.htm"));
        QTest::newRow("neither UTF-8 nor GBK") << QByteArray("bad\x81.TXT") << u("bad\\x81.TXT")
                                               << QByteArray("txt") << QByteArray("bad\x81.htm");
    }
    void fileNames()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        QFETCH(QByteArray, extension);
        QFETCH(QByteArray, page);
        const FileName name = FileName::from_bytes(bytes);
        QCOMPARE(name.shown(), shown);
        QCOMPARE(extension_bytes(name), extension);
        QCOMPARE(page_name_of(name).bytes, page);
    }

    void naturalOrder_data()
    {
        QTest::addColumn<QStringList>("shuffled");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("numbers by value, case ignored") << QStringList{"img_10.jpg", "IMG_9.JPG", "b", "A"}
                                                        << QStringList{"A", "b", "IMG_9.JPG", "img_10.jpg"};
        QTest::newRow("leading zeros")
            << QStringList{"x010", "x002", "x1"} << QStringList{"x1", "x002", "x010"};
        QTest::newRow("ties broken the same way")
            << QStringList{"a", "A", "01", "1"} << QStringList{"01", "1", "A", "a"};
    }
    void naturalOrder()
    {
        QFETCH(QStringList, shuffled);
        QFETCH(QStringList, sorted);
        std::vector<FileName> names;
        for (const QString &name : shuffled)
            names.push_back(FileName::from_bytes(name.toUtf8()));
        std::sort(names.begin(), names.end(),
                  [](const FileName &a, const FileName &b) { return natural_less(a, b); });
        QStringList seen;
        for (const FileName &name : names)
            seen << name.text();
        QCOMPARE(seen, sorted);
    }

    void protectedFolders_data()
    {
        QTest::addColumn<QString>("dirAndFolder"); // a folder, and the system folder it lies in
        QTest::newRow("root") << "/ /";
        QTest::newRow("below usr") << "/usr/share/doc /usr";
        QTest::newRow("a lib folder") << "/lib64/x /lib64";
        QTest::newRow("dotted path") << "/tmp/../etc /etc";
        QTest::newRow("a name that only begins like lib") << "/library/books ";
        QTest::newRow("home is fine") << "/home/someone/photos ";
    }
    void protectedFolders()
    {
        QFETCH(QString, dirAndFolder);
        QCOMPARE(protected_folder_of(dirAndFolder.section(' ', 0, 0)), dirAndFolder.section(' ', 1));
    }

    void numberRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("number");
        QTest::newRow("12abc with spaces") << "  12abc  " << 12.0;
        QTest::newRow("no leading digit") << "abc12" << 0.0;
        QTest::newRow("sign and fraction") << "-2.5x" << -2.5;
        QTest::newRow("fraction without whole part") << ".5" << 0.5;
        QTest::newRow("exponent with sign") << "2e-1" << 0.2;
        QTest::newRow("exponent without digits is ignored") << "3E" << 3.0;
        QTest::newRow("blanks inside the number") << "1 2\t3\n4" << 1234.0;
        QTest::newRow("full-width digits are not digits") << u("１２") << 0.0;
        QTest::newRow("tiny with an exponent") << "1e-400" << 0.0;
        QTest::newRow("tiny without an exponent") << "0." + QString(500, '0') + "1" << 0.0;
        QTest::newRow("beyond any number") << "1e400" << HUGE_VAL;
        QTest::newRow("long but not large") << "0." + QString(300, '0') + "1e300" << 0.1;
    }
    void numberRule()
    {
        QFETCH(QString, text);
        QFETCH(double, number);
        QCOMPARE(parse_start_number(text), number);
    }
};

QTEST_GUILESS_MAIN(TestText)
#include "tst_text.moc"
