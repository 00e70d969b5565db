// A run killed at any moment leaves every file old or new, never half-written
// and never missing, and the next run in the folder mends what was left.

#include "testutil.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <chrono>
#include <thread>

#include <dirent.h>

using namespace testutil;

namespace {

// Every regular file of the folder, hidden ones too, name -> bytes.
QMap<QString, QByteArray> all_files(const QString &dir)
{
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System))
        files.insert(name, read(dir, name));
    return files;
}

void kill_after(QProcess &process, std::chrono::microseconds delay)
{
    std::this_thread::sleep_for(delay);
    process.kill(); // SIGKILL
    process.waitForFinished(30000);
}

// Moments to kill a run at, the same on every machine.
void add_kill_rows(quint32 seed, int rows, int maxMicroseconds)
{
    QTest::addColumn<int>("delayMicroseconds");
    QRandomGenerator random(seed);
    for (int i = 0; i < rows; ++i) {
        const int delay = random.bounded(maxMicroseconds);
        QTest::addRow("kill after %d us", delay) << delay;
    }
}

int run_cli(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(TORVALE_CLI), arguments);
    process.waitForFinished(120000);
    return process.exitCode();
}

} // namespace

class TestCrash : public QObject
{
    Q_OBJECT

private slots:
    // 1.txt -> 2.txt, 2.txt -> 3.txt ...: every file but the last waits under
    // a temporary name, the case with the most to go wrong.
    void killedRename_data() { add_kill_rows(20261206, 12, 400000); }
    void killedRename()
    {
        QFETCH(int, delayMicroseconds);
        QTemporaryDir tmp;
        const int count = 3000;
        for (int i = 1; i <= count; ++i)
            write(tmp.path(), QStringLiteral("%1.txt").arg(i), QByteArray::number(i));

        QProcess process;
        process.start(QStringLiteral(TORVALE_CLI), {"rename", tmp.path(), "--start", "2"});
        QVERIFY(process.waitForStarted());
        kill_after(process, std::chrono::microseconds(delayMicroseconds));

        // Nothing lost: each content once, under some name.
        QMap<QString, QByteArray> files = all_files(tmp.path());
        files.remove(".torvale-rename.journal");
        QSet<QByteArray> seen;
        for (const QByteArray &bytes : files)
            seen.insert(bytes);
        QCOMPARE(files.size(), count);
        QCOMPARE(seen.size(), count);

        // The next run puts the waiting files back and renames everything.
        QCOMPARE(run_cli({"rename", tmp.path(), "--start", "1", "--prefix", "n"}), 0);
        const QMap<QString, QByteArray> after = all_files(tmp.path());
        QCOMPARE(after.size(), count);
        for (auto it = after.cbegin(); it != after.cend(); ++it)
            QVERIFY2(it.key().startsWith('n') && it.key().endsWith(".txt"), qPrintable(it.key()));
    }

    void killedReplace_data() { add_kill_rows(6122026, 8, 300000); }
    void killedReplace()
    {
        QFETCH(int, delayMicroseconds);
        QTemporaryDir tmp;
        const int count = 400;
        QByteArray old;
        for (int line = 0; line < 2000; ++line)
            old += gbk(u("第") + QString::number(line) + u("行 old 旧文本\r\n"));
        QByteArray changed = old;
        changed.replace("old", "new");
        for (int i = 0; i < count; ++i)
            write(tmp.path(), QStringLiteral("f%1.txt").arg(i), old);

        QProcess process;
        process.start(QStringLiteral(TORVALE_CLI), {"replace", tmp.path(), "--find", "old", "--replace", "new"});
        QVERIFY(process.waitForStarted());
        kill_after(process, std::chrono::microseconds(delayMicroseconds));

        const QMap<QString, QByteArray> files = all_files(tmp.path());
        QCOMPARE(files.size(), count); // no temporary file left behind either
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            QVERIFY2(it.value() == old || it.value() == changed, qPrintable(it.key()));

        QCOMPARE(run_cli({"replace", tmp.path(), "--find", "old", "--replace", "new"}), 0);
        for (const QByteArray &bytes : all_files(tmp.path()))
            QCOMPARE(bytes, changed);
    }
};

QTEST_GUILESS_MAIN(TestCrash)
#include "tst_crash.moc"
