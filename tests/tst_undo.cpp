// The preview comes from the planning code the runs use, so the two agree;
// undo takes a run back and never writes over what changed since.

#include "testutil.h"

#include "ops/convert.h"
#include "ops/rename.h"
#include "ops/replace.h"
#include "ops/undo.h"

#include <QTemporaryDir>

using namespace torvale;
using namespace testutil;

namespace {

QStringList problem_names(const Report &report)
{
    QStringList names;
    for (const Problem &p : report.problems)
        names << p.name + ": " + p.reason;
    return names;
}

void append_to(const QString &dir, const QString &name, const QByteArray &bytes)
{
    QFile file(QDir(dir).filePath(name));
    QVERIFY(file.open(QIODevice::Append));
    file.write(bytes);
}

} // namespace

class TestUndo : public QObject
{
    Q_OBJECT

private slots:
    void renamePreviewAgrees()
    {
        QTemporaryDir tmp;
        for (const char *name : {"2.txt", "1.txt", "b.JPG", "a.jpg"})
            write(tmp.path(), name, name);
        const RenameParams params{tmp.path(), "p", "1", 2};
        const RenamePlan plan = plan_rename(params);
        QVERIFY(run_rename(params).ok());
        QCOMPARE(plan.moves.size(), 4);
        for (const RenameMove &move : plan.moves)
            QCOMPARE(read(tmp.path(), move.to), move.from.toUtf8());
    }

    void replacePreviewAgrees()
    {
        QTemporaryDir tmp;
        write(tmp.path(), "a.txt", u("旧 old old").toUtf8());
        write(tmp.path(), "b.txt", "nothing");
        write(tmp.path(), "c.bin", QByteArray("\0old", 4));
        write(tmp.path(), "d.txt", gbk(u("旧old")));
        const ReplaceParams params{tmp.path(), "old", u("😀")};
        const ReplacePlan plan = plan_replace(params);
        const Report report = run_replace(params);
        QStringList planned, skipped;
        int occurrences = 0;
        for (const ReplacePlanItem &item : plan.items) {
            if (item.skipReason.isEmpty()) {
                planned << item.name;
                occurrences += item.occurrences;
            } else {
                skipped << item.name + ": " + item.skipReason;
            }
        }
        QCOMPARE(planned, QStringList{"a.txt"});
        QCOMPARE(report.changed, planned.size());
        QCOMPARE(report.occurrences, occurrences);
        QCOMPARE(problem_names(report), skipped); // the binary file and the GBK file that cannot hold 😀
        QCOMPARE(skipped.size(), 2);
    }

    void convertPreviewAgrees()
    {
        QTemporaryDir tmp;
        write(tmp.path(), "a.txt", "A");
        write(tmp.path(), "b.txt", QByteArray("\0", 1));
        write(tmp.path(), "B.TXT", "second b");
        write(tmp.path(), "index.txt", "I");
        write(tmp.path(), "c.htm", "old page");
        write(tmp.path(), "c.txt", "C");
        const ConvertParams params{tmp.path(), "T"};
        const ConvertPlan plan = plan_convert(params, true);
        const Report report = run_convert(params);
        QStringList pages, skipped;
        for (const ConvertItem &item : plan.items) {
            if (item.skipReason.isEmpty())
                pages << item.page;
            else
                skipped << item.source + ": " + item.skipReason;
        }
        QCOMPARE(problem_names(report), skipped);
        QCOMPARE(report.changed, pages.size());
        for (const QString &page : pages)
            QVERIFY(read(tmp.path(), page).startsWith("<HTML>"));
        const auto c = std::find_if(plan.items.cbegin(), plan.items.cend(), [](const ConvertItem &i) { return i.source == "c.txt"; });
        QVERIFY(c != plan.items.cend() && c->replacesExisting); // c.htm was there
    }

    // Undo puts renamed files back, but leaves one changed since alone.
    void undoRename()
    {
        QTemporaryDir tmp;
        for (const char *name : {"1.txt", "2.txt", "3.txt"})
            write(tmp.path(), name, name);
        const Report report = run_rename({tmp.path(), "", "2", 0, true});
        QCOMPARE(report.changes.size(), 3);
        append_to(tmp.path(), "4.txt", " edited"); // was 3.txt
        const Report undo = undo_changes(tmp.path(), report.changes);
        QCOMPARE(undo.problems.size(), 1);
        QCOMPARE(undo.problems[0].name, QStringLiteral("4.txt"));
        QCOMPARE(read(tmp.path(), "4.txt"), QByteArray("3.txt edited"));
        QCOMPARE(read(tmp.path(), "2.txt"), QByteArray("2.txt"));
        QCOMPARE(read(tmp.path(), "1.txt"), QByteArray("1.txt"));
        QVERIFY(!QFile::exists(QDir(tmp.path()).filePath("3.txt")));
    }

    // Undo restores the exact former bytes of rewritten files, except one
    // written to since, which it must not clobber.
    void undoReplace()
    {
        QTemporaryDir tmp, backups;
        write(tmp.path(), "a.txt", "old\r\n");
        write(tmp.path(), "b.txt", gbk(u("旧old")));
        write(tmp.path(), "c.txt", "old");
        const Report report = run_replace({tmp.path(), "old", "new", backups.path()});
        QCOMPARE(report.changes.size(), 3);
        write(tmp.path(), "c.txt", "mine now");
        const Report undo = undo_changes(tmp.path(), report.changes);
        QCOMPARE(undo.changed, 2);
        QCOMPARE(undo.problems.size(), 1);
        QCOMPARE(read(tmp.path(), "a.txt"), QByteArray("old\r\n"));
        QCOMPARE(read(tmp.path(), "b.txt"), gbk(u("旧old")));
        QCOMPARE(read(tmp.path(), "c.txt"), QByteArray("mine now"));
    }

    // Pages the run made are removed, pages it replaced and the index come back.
    void undoConvert()
    {
        QTemporaryDir tmp, backups;
        write(tmp.path(), "a.txt", "A");
        write(tmp.path(), "b.txt", "B");
        write(tmp.path(), "a.htm", "my own a.htm");
        write(tmp.path(), "index.htm", "my own index");
        const auto before = snapshot(tmp.path());
        const Report report = run_convert({tmp.path(), "T", backups.path()});
        QCOMPARE(report.changes.size(), 3);
        const Report undo = undo_changes(tmp.path(), report.changes);
        QVERIFY(undo.ok());
        QCOMPARE(snapshot(tmp.path()), before);
    }

};

QTEST_GUILESS_MAIN(TestUndo)
#include "tst_undo.moc"
