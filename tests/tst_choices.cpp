// The choices beyond the three fixed operations: which files take part
// (globs), output for scripts (JSON), quiet and verbose, and the progress of
// a long run on a terminal.

#include "testutil.h"

#include "files/namefilter.h"
#include "ops/replace.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringEncoder>

using namespace torvale;
using namespace testutil;

namespace {

QList<QJsonObject> json_lines(const QString &out)
{
    QList<QJsonObject> objects;
    for (const QString &line : out.split('\n', Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject())
            return {}; // nothing but JSON objects on stdout
        objects << doc.object();
    }
    return objects;
}

} // namespace

class TestChoices : public QObject
{
    Q_OBJECT

private slots:
    void globs_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QByteArray>("name"); // bytes: GBK where marked
        QTest::addColumn<bool>("matches");
        QTest::newRow("extension in any case") << "*.jpg" << QByteArray("IMG_1.JPG") << true;
        QTest::newRow("the name's case counts") << "img*" << QByteArray("IMG_1.jpg") << false;
        QTest::newRow("extension from the first dot") << "*.tar.gz" << QByteArray("a.TAR.GZ") << true;
        QTest::newRow("one character") << "?.txt" << QByteArray("ab.txt") << false;
        QTest::newRow("a class") << "[ab]*.txt" << QByteArray("b1.txt") << true;
        QTest::newRow("a range") << "[0-9]*" << QByteArray("7.txt") << true;
        QTest::newRow("a negated class") << "[!0-9]*" << QByteArray("7.txt") << false;
        QTest::newRow("an unclosed bracket is itself") << "[a.txt" << QByteArray("[a.txt") << true;
        QTest::newRow("the whole name") << "*.txt" << QByteArray("a.txt.bak") << false;
        QTest::newRow("Chinese, GBK name") << u("照片*.jpg") << gbk(u("照片01.JPG")) << true;
        QTest::newRow("full-width letters in the extension")
            << u("*.ｔｘｔ") << u("a.ＴＸＴ").toUtf8() << true;
        QTest::newRow("many stars") << "*a*b*c*d*"
                                    << QByteArray("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa")
                                    << false;
    }
    void globs()
    {
        QFETCH(QString, pattern);
        QFETCH(QByteArray, name);
        QFETCH(bool, matches);
        QCOMPARE(NameFilter({pattern}, {}).accepts(FileName::from_bytes(name)), matches);
        QCOMPARE(NameFilter({}, {pattern}).accepts(FileName::from_bytes(name)), !matches);
    }

    // Regular expressions and letter case, on the decoded text of each line,
    // in every character set a file may have: never inside a double-byte
    // character, every byte outside the matches as it was.
    void patterns_data()
    {
        QTest::addColumn<QString>("encoding"); // of the file and the expected bytes
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<bool>("regex");
        QTest::addColumn<bool>("ignoreCase");
        QTest::addColumn<QString>("expected"); // empty: the file stays as it is
        const QString gbkText = u("司遥 2024-05-06\r\n中文 2023-01-02\r\n");
        QTest::newRow("groups, GBK") << "GBK" << gbkText << "(\\d+)-(\\d+)-(\\d+)"
                                     << "$3/$2/$1" << true << false
                                     << u("司遥 06/05/2024\r\n中文 02/01/2023\r\n");
        QTest::newRow("named group and $$, UTF-8") << "UTF-8" << u("价 12\n") << "(?<n>\\d+)"
                                                   << "$$${n}" << true << false << u("价 $12\n");
        QTest::newRow("no match inside a GBK character") // 中 is D6 D0, 文 is CE C4: "\xD0\xCE" straddles
            << "GBK" << u("中文\n") << u("性") << "x" << false << true << QString();
        QTest::newRow("^ and $ are the ends of each line")
            << "UTF-8" << u("a b\r\nc d\rx\n") << "^|$"
            << "|" << true << false << u("|a b|\r\n|c d|\r|x|\n");
        QTest::newRow("empty matches") << "UTF-8" << u("ab\n") << "x*"
                                       << "-" << true << false << u("-a-b-\n");
        QTest::newRow("no match across a line end") << "UTF-8" << u("a\nb\n") << "a.b"
                                                    << "x" << true << false << QString();
        QTest::newRow("unless it asks for one") << "UTF-8" << u("a\nb\n") << "a\\nb"
                                                << "x" << true << false << u("x\n");
        QTest::newRow("case, full-width Latin")
            << "GB18030" << u("ＡＢＣ 𠮷\n") << u("ａｂｃ") << "x" << false << true << u("x 𠮷\n");
        QTest::newRow("case, Greek, UTF-16")
            << "UTF-16LE" << u("ΣΟΦΙΑ\r\n") << u("σοφια") << u("智") << false << true << u("智\r\n");
        QTest::newRow("surrogate pairs stay whole") << "UTF-16BE" << u("𠮷a\n") << "."
                                                    << "-" << true << false << u("--\n");
        QTest::newRow("an empty match before a surrogate pair") << "UTF-8" << u("😀a\nb😀\n") << "^|(?<=b)"
                                                                << ">" << true << false << u(">😀a\n>b>😀\n");
        QTest::newRow("literal with ignored case: no $ groups") << "UTF-8" << u("A\n") << "a"
                                                                << "$1" << false << true << u("$1\n");
        QTest::newRow("a replacement GBK cannot hold: skipped")
            << "GBK" << u("中文\n") << u("文") << u("😀") << true << false << QString();
        QTest::newRow("too much backtracking: skipped, not half done")
            << "UTF-8" << QString(40, 'a') + "b\naaaa\n"
            << "(a|a)*c|aaaa"
            << "X" << true << false << QString();
    }
    void patterns()
    {
        QFETCH(QString, encoding);
        QFETCH(QString, text);
        QFETCH(QString, find);
        QFETCH(QString, replacement);
        QFETCH(bool, regex);
        QFETCH(bool, ignoreCase);
        QFETCH(QString, expected);
        auto bytes = [&](const QString &t) { // UTF-16 with its byte-order mark
            QStringEncoder encoder(encoding.toLatin1().constData(), QStringEncoder::Flag::Stateless);
            const QByteArray mark = encoding == "UTF-16LE"   ? "\xFF\xFE"
                                    : encoding == "UTF-16BE" ? "\xFE\xFF"
                                                             : "";
            return mark + QByteArray(encoder.encode(t));
        };
        TempDir tmp;
        write(tmp.path(), QByteArray("a.txt"), bytes(text));
        ReplaceParams params{tmp.path(), find, replacement};
        params.options = {regex, ignoreCase};
        const Report report = apply_replace(plan_replace(params));
        QCOMPARE(read(tmp.path(), QByteArray("a.txt")), bytes(expected.isEmpty() ? text : expected));
        QCOMPARE(report.changed, expected.isEmpty() ? 0 : 1);
        QCOMPARE(report.problems.size(), QByteArray(QTest::currentDataTag()).contains("skipped") ? 1 : 0);
    }

    // A wrong expression is a usage error that names the place of the fault.
    void wrongExpression()
    {
        TempDir tmp;
        const Run run = cli({"replace", tmp.path(), "-E", "--find", "ab(c", "--replace", "x"});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(u("第 5 个字符")), qPrintable(run.err));
        QCOMPARE(cli({"replace", tmp.path(), "-E", "--find", "(a)", "--replace", "$2"}).exitCode, 2);
    }

    // Files left out are untouched and not numbered, and counted once.
    // Files left out are untouched and not numbered; a page or index a
    // pattern leaves out is not written either; a new name taken by a file
    // left out is said to be so.
    void filteredRuns_data()
    {
        QTest::addColumn<QStringList>("files"); // each holding its own name
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QStringList>("untouched");
        QTest::addColumn<QString>("said");
        QTest::newRow("rename the photos only")
            << QStringList{"b.JPG", "a.jpg", "desktop.ini", "notes.txt", "c.png"}
            << QStringList{"rename", "--start",   "1",     "--prefix",  "p",  "--include",
                           "*.jpg",  "--include", "*.png", "--exclude", "c.*"}
            << 0 << QStringList{"c.png", "desktop.ini", "notes.txt", "p1.jpg", "p2.jpg"}
            << QStringList{"c.png", "desktop.ini", "notes.txt"} << u("按条件略过 3 个文件");
        QTest::newRow("html leaves the pages left out alone")
            << QStringList{"a.txt", "b.txt", "a.htm", "index.htm"}
            << QStringList{"html", "--title", "T", "--exclude", "a.htm", "--exclude", "index.HTM"} << 1
            << QStringList{"a.htm", "a.txt", "b.htm", "b.txt", "index.htm"}
            << QStringList{"a.htm", "index.htm"} << u("在不处理的文件之列");
        QTest::newRow("a new name taken by a file left out")
            << QStringList{"a.jpg", "1.jpg"} << QStringList{"rename", "--start", "1", "--include", "a*"} << 1
            << QStringList{"1.jpg", "a.jpg"} << QStringList{"1.jpg", "a.jpg"} << u("按条件不处理的同名文件");
    }
    void filteredRuns()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, after);
        QFETCH(QStringList, untouched);
        QFETCH(QString, said);
        TempDir tmp;
        for (const QString &name : files)
            write(tmp.path(), name.toUtf8(), name.toUtf8());
        const Run run = cli(QStringList{arguments[0], tmp.path()} + arguments.mid(1));
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2((run.out + run.err).contains(said), qPrintable(run.out + run.err));
        const auto now = snapshot(tmp.path());
        QStringList names; // sorted
        for (const QByteArray &name : now.keys())
            names << QString::fromUtf8(name);
        QCOMPARE(names, after);
        for (const QString &name : untouched)
            QCOMPARE(now.value(name.toUtf8()), name.toUtf8());
    }

    // --json: only JSON on stdout, one object per file and a summary; names
    // exact, a byte that is not UTF-8 as \udcXX.
    void json_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("key"); // of the name in a file's object
        QTest::addColumn<QString>("ending");
        QTest::newRow("rename, dry run") << QStringList{"rename", "--start", "1", "--dry-run"} << "old"
                                         << ".txt";
        QTest::newRow("rename") << QStringList{"rename", "--start", "1"} << "old"
                                << ".txt";
        QTest::newRow("replace, dry run") << QStringList{"replace", "--find", "x", "--dry-run"} << "file"
                                          << ".txt";
        QTest::newRow("replace") << QStringList{"replace", "--find", "x", "--replace", "y"} << "file"
                                 << ".txt";
        QTest::newRow("html: the pages made") << QStringList{"html", "--title", "T"} << "file"
                                              << ".htm";
    }
    void json()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, key);
        QFETCH(QString, ending);
        TempDir tmp;
        write(tmp.path(), QByteArray("a\"b.txt"), "x");
        write(tmp.path(), gbk(u("旧.txt")), "x");
        arguments.insert(1, tmp.path());
        const Run run = cli(arguments + QStringList{"--json"});
        QCOMPARE(run.exitCode, 0);
        const QList<QJsonObject> objects = json_lines(run.out);
        QVERIFY2(objects.size() >= 3, qPrintable(run.out));
        QVERIFY(objects.last().value("summary").toBool());
        QStringList names;
        for (const QJsonObject &o : objects.mid(0, 2))
            names << o.value(o.contains(key) ? key : "old").toString();
        QCOMPARE(names, (QStringList{"a\"b" + ending, QString(QChar(0xDCBE)) + QChar(0xDCC9) + ending}));
    }

    // On a full disk the folder's trouble is its own object, not a skipped
    // file, and the summary says the run did not succeed.
    void jsonOnAFullDisk()
    {
        TORVALE_REQUIRE(strace_works(), "strace cannot inject faults here");
        TempDir tmp;
        for (const char *name : {"a.txt", "b.txt"})
            write(tmp.path(), QByteArray(name), "old");
        const Run run =
            cli({"replace", tmp.path(), "--find", "old", "--replace", "new", "--json", "--no-undo"},
                {"trace=fsync,fdatasync", "inject=fsync,fdatasync:error=ENOSPC:when=1+"});
        QCOMPARE(run.exitCode, 1);
        const QList<QJsonObject> objects = json_lines(run.out);
        QVERIFY2(!objects.isEmpty() && objects.last().value("summary").toBool(), qPrintable(run.out));
        const auto files =
            std::count_if(objects.begin(), objects.end(), [](auto &o) { return o.contains("file"); });
        QVERIFY(std::any_of(objects.begin(), objects.end(),
                            [](auto &o) { return o.value("action") == "error"; }));
        QCOMPARE(objects.last().value("skipped").toInt(), int(files));
        QCOMPARE(objects.last().value("ok").toBool(true), false);
    }

    // -q prints nothing but errors; -v every file changed.
    void quietAndVerbose()
    {
        TempDir tmp;
        write(tmp.path(), QByteArray("a.txt"), "x");
        write(tmp.path(), QByteArray("b.txt"), "none");
        const Run quiet = cli({"replace", tmp.path(), "--find", "x", "--replace", "y", "-q"});
        QCOMPARE(quiet.exitCode, 0);
        QCOMPARE(quiet.out + quiet.err, QString());
        const Run verbose = cli({"replace", tmp.path(), "--find", "y", "--replace", "z", "-v"});
        QCOMPARE(verbose.out.split('\n', Qt::SkipEmptyParts).first(), u("a.txt：替换 1 处"));
    }

    // On a terminal a long run shows its progress on one line of stderr,
    // erased at the end; in a pipe nothing of it.
    void progressOnATerminal()
    {
        TORVALE_REQUIRE(strace_works(), "strace cannot slow a run here (no ptrace)");
        TempDir tmp;
        for (int i = 0; i < 60; ++i)
            write(tmp.path(), "f" + QByteArray::number(i) + ".txt", "x");
        const QString command =
            QString("stty cols 24; strace -f -qq -o /dev/null -e inject=renameat2:delay_enter=30000 '%1' "
                    "rename '%2' --start 1 --prefix p")
                .arg(TORVALE_CLI, tmp.path());
        QProcess script; // a pseudo-terminal, as a person's shell has
        use_history(script);
        script.start("script", {"-qec", command, "/dev/null"});
        QVERIFY(script.waitForFinished(60000));
        const QString seen = QString::fromUtf8(script.readAllStandardOutput());
        QVERIFY2(seen.contains(u("已处理")) && seen.contains(u("/60 个文件")), qPrintable(seen));
        for (const QString &drawn : seen.split("\r\033[K").mid(1, seen.count("\r\033[K") - 1)) // a narrow one
            QVERIFY2(drawn.size() * 2 - drawn.count(QRegularExpression("[ -~]")) <= 23, qPrintable(drawn));
        QVERIFY(seen.contains("\r\033[K" + u("已更名 60 个文件"))); // the line erased before the summary
        const Run piped = cli({"rename", tmp.path(), "--start", "1", "--prefix", "q"},
                              {"inject=renameat2:delay_enter=30000"});
        QVERIFY(!piped.err.contains(u("已处理")));
    }
};

QTEST_GUILESS_MAIN(TestChoices)
#include "tst_choices.moc"
