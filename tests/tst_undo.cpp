// Undo takes a run back exactly, and never writes over what changed since.

#include "testutil.h"

#include "ops/convert.h"
#include "ops/rename.h"
#include "ops/replace.h"
#include "ops/undo.h"

using namespace torvale;
using namespace testutil;

namespace {

Report undo(const QString &dir, const Report &run, const QString &backups = {})
{
    QString error;
    const auto folder = Folder::open(dir, &error);
    const auto backupFolder = backups.isEmpty() ? nullptr : Folder::open(backups, &error, false);
    return undo_changes(folder, run.changes, backupFolder.get());
}

} // namespace

class TestUndo : public QObject
{
    Q_OBJECT

private slots:
    // Renamed files get their names back, a chain included; one changed since stays.
    void undoRename()
    {
        TempDir tmp;
        for (const char *name : {"1.txt", "2.txt", "3.txt"})
            write(tmp.path(), QByteArray(name), name);
        const Report run = run_rename({tmp.path(), "", "2", 0, true});
        QCOMPARE(run.changes.size(), 3);
        write(tmp.path(), QByteArray("4.txt"), "3.txt edited"); // was 3.txt
        const Report report = undo(tmp.path(), run);
        QCOMPARE(report.problems.size(), 1);
        QCOMPARE(report.problems[0].name, "4.txt");
        QCOMPARE(snapshot(tmp.path()),
                 (QMap<QByteArray, QByteArray>{
                     {"1.txt", "1.txt"}, {"2.txt", "2.txt"}, {"4.txt", "3.txt edited"}}));
    }

    // Rewritten files get their exact former bytes, except one written to since.
    void undoReplace()
    {
        TempDir tmp, backups;
        write(tmp.path(), QByteArray("a.txt"), "old\r\n");
        write(tmp.path(), QByteArray("b.txt"), gbk(u("旧old")));
        write(tmp.path(), QByteArray("c.txt"), "old");
        const Report run = run_replace({tmp.path(), "old", "new", backups.path()});
        QCOMPARE(run.changes.size(), 3);
        write(tmp.path(), QByteArray("c.txt"), "mine now");
        const Report report = undo(tmp.path(), run, backups.path());
        QCOMPARE(report.changed, 2);
        QCOMPARE(report.problems.size(), 1);
        QCOMPARE(snapshot(tmp.path()),
                 (QMap<QByteArray, QByteArray>{
                     {"a.txt", "old\r\n"}, {"b.txt", gbk(u("旧old"))}, {"c.txt", "mine now"}}));
    }

    // Pages the run made are removed, pages it replaced and the index come back.
    void undoConvert()
    {
        TempDir tmp, backups;
        write(tmp.path(), QByteArray("a.txt"), "A");
        write(tmp.path(), QByteArray("b.txt"), "B");
        write(tmp.path(), QByteArray("a.htm"), "my own a.htm");
        write(tmp.path(), QByteArray("index.htm"), "my own index");
        const auto before = snapshot(tmp.path());
        const Report run = run_convert({tmp.path(), "T", backups.path()});
        QCOMPARE(run.changes.size(), 3);
        QVERIFY(undo(tmp.path(), run, backups.path()).ok());
        QCOMPARE(snapshot(tmp.path()), before);
    }
};

QTEST_GUILESS_MAIN(TestUndo)
#include "tst_undo.moc"
