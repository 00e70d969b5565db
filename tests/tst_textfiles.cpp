#include "testutil.h"

#include "files/charset.h"
#include "files/linefile.h"
#include "files/textbuffer.h"

#include <QStringDecoder>
#include <QTemporaryDir>

using namespace torvale;
using namespace testutil;

Q_DECLARE_METATYPE(std::optional<Charset>)

class TestTextFiles : public QObject
{
    Q_OBJECT

private slots:
    void lines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty text has no lines") << "" << QStringList{};
        QTest::newRow("CR LF at the end gives no empty last line") << "a\r\nb\r\n" << QStringList{"a", "b"};
        QTest::newRow("last line without line end") << "a\r\nb" << QStringList{"a", "b"};
        QTest::newRow("two CR LF make an empty line") << "a\r\n\r\nb" << QStringList{"a", "", "b"};
        QTest::newRow("lone CR ends a line") << "a\rb" << QStringList{"a", "b"};
        QTest::newRow("lone LF is part of the line") << "a\nb\n" << QStringList{"a\nb\n"};
        QTest::newRow("CR swallows only one LF") << "a\r\n\nb" << QStringList{"a", "\nb"};
        QTest::newRow("LF CR") << "a\n\rb" << QStringList{"a\n", "b"};
    }
    void lines()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, lines);
        QStringList seen;
        split_lines(text, [&](const QString &line) { seen << line; });
        QCOMPARE(seen, lines);
    }

    // Reading each line with my_write and writing the buffer back adds the
    // final CR LF of the buffer write.
    void readAndWriteBack_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("A CR LF B") << QByteArray("A\r\nB") << QByteArray("A\r\nB\r\n\r\n");
        QTest::newRow("empty file") << QByteArray() << QByteArray("\r\n");
        QTest::newRow("lone CR becomes CR LF") << QByteArray("A\rB") << QByteArray("A\r\nB\r\n\r\n");
        QTest::newRow("lone LF stays") << QByteArray("A\nB") << QByteArray("A\nB\r\n\r\n");
        QTest::newRow("GBK text") << gbk(u("中文\r\n")) << gbk(u("中文\r\n\r\n"));
    }
    void readAndWriteBack()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QTemporaryDir tmp;
        write(tmp.path(), "f.txt", before);
        const QString path = QDir(tmp.path()).filePath("f.txt");
        TextBuffer buffer;
        buffer.buffer_clear();
        QString error;
        QVERIFY(for_each_line(path, [&](const QString &WorkText) { buffer.my_write(WorkText); }, &error));
        QVERIFY(write_buffer(path, buffer, &error));
        QCOMPARE(read(tmp.path(), "f.txt"), after);
    }

    void bufferAppendsAfterWhatItHolds()
    {
        TextBuffer buffer;
        buffer.buffer_append(u"old");
        buffer.my_write(QString());
        buffer.buffer_append(u"new");
        QCOMPARE(buffer.buffer_text(), QStringLiteral("old\r\nnew"));
        buffer.buffer_clear();
        QVERIFY(buffer.buffer_text().isEmpty());
    }

    void detect_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<std::optional<Charset>>("charset");
        const std::optional<Charset> notText;
        QTest::newRow("ASCII is GBK") << QByteArray("plain\r\n") << std::optional(Charset::Gbk);
        QTest::newRow("GBK Chinese") << gbk(u("你好，世界")) << std::optional(Charset::Gbk);
        QTest::newRow("0x80 is the euro sign in code page 936") << QByteArray("\x80") << std::optional(Charset::Gbk);
        QTest::newRow("UTF-8 Chinese") << u("你好").toUtf8() << std::optional(Charset::Utf8);
        QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBFhi") << std::optional(Charset::Utf8Bom);
        QTest::newRow("BOM then invalid") << QByteArray("\xEF\xBB\xBF\xFF\xFE") << notText;
        QTest::newRow("BOM-like start of GBK text") << QByteArray("\xEF\xBB\xBF\x61\x62\xFF") << std::optional(Charset::Gbk);
        QTest::newRow("NUL byte") << QByteArray("a\0b", 3) << notText;
        QTest::newRow("GBK lead byte cut off") << QByteArray("ab\xC4") << notText;
        QTest::newRow("GBK lead byte before a space") << QByteArray("\x81 x") << notText;
        QTest::newRow("UTF-8 surrogate is not UTF-8") << QByteArray("\xED\xA0\x80") << std::optional(Charset::Gbk);
        QTest::newRow("overlong UTF-8, invalid GBK") << QByteArray("\xC0\xAF\x81") << notText;
    }
    void detect()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(std::optional<Charset>, charset);
        QCOMPARE(detect_charset(bytes), charset);
    }

    void validUtf8_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("long ASCII") << QByteArray(100, 'x') << true;
        QTest::newRow("four-byte character") << u("😀").toUtf8() << true;
        QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
        QTest::newRow("cut off after eight ASCII") << QByteArray("12345678\xE4\xB8") << false;
        QTest::newRow("lone continuation") << QByteArray("\x80") << false;
    }
    void validUtf8()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QCOMPARE(is_valid_utf8(bytes), valid);
    }

    void gbkForHtml_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("full-width angle brackets") << u("＜＞") << QByteArray("\xA3\xBC\xA3\xBE");
        QTest::newRow("font name") << u("宋体") << QByteArray("\xCB\xCE\xCC\xE5");
        QTest::newRow("emoji as a reference") << u("a😀b") << QByteArray("a&#128512;b");
        QTest::newRow("Korean as references") << u("한국") << QByteArray("&#54620;&#44397;");
    }
    void gbkForHtml()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(encode_gbk_for_html(text), bytes);
    }

    // The look-up table answers as the codec does, for every byte pair and
    // every character: text when the codec converts there and back exactly.
    void gbkAgreesWithTheCodec()
    {
        int mismatches = 0;
        for (int lead = 0x80; lead <= 0xFF; ++lead) {
            for (int trail = 0x40; trail <= 0xFF; ++trail) {
                const QByteArray bytes = QByteArray(1, char(lead)) + char(trail);
                QStringDecoder decoder("GBK", QStringDecoder::Flag::Stateless);
                const QString text = decoder.decode(bytes);
                QStringEncoder encoder("GBK", QStringEncoder::Flag::Stateless);
                const bool roundTrip = !decoder.hasError() && encoder.encode(text) == bytes && !encoder.hasError();
                if (is_valid_utf8(bytes))
                    continue; // read as UTF-8
                if ((detect_charset(bytes) == Charset::Gbk) != roundTrip)
                    ++mismatches;
                if (roundTrip && decode(bytes, Charset::Gbk) != text)
                    ++mismatches;
            }
        }
        QCOMPARE(mismatches, 0);
        for (char32_t c = 0x20; c <= 0xFFFF; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF)
                continue;
            const QString ch{QChar(char16_t(c))};
            QStringEncoder encoder("GBK", QStringEncoder::Flag::Stateless);
            const QByteArray bytes = encoder.encode(ch);
            QStringDecoder decoder("GBK", QStringDecoder::Flag::Stateless);
            const bool roundTrip = !encoder.hasError() && decoder.decode(bytes) == ch;
            const std::optional<QByteArray> ours = encode(ch, Charset::Gbk);
            if (roundTrip != ours.has_value() || (ours && *ours != bytes))
                ++mismatches;
        }
        QCOMPARE(mismatches, 0);
    }

    void binaryFileIsNotRead()
    {
        QTemporaryDir tmp;
        write(tmp.path(), "image.txt", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
        bool stepRan = false;
        QString error;
        QVERIFY(!for_each_line(QDir(tmp.path()).filePath("image.txt"), [&](const QString &) { stepRan = true; },
                               &error));
        QVERIFY(!stepRan);
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTextFiles)
#include "tst_textfiles.moc"
