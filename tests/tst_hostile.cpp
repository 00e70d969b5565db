// Each operation on a folder that holds everything a real folder can hold:
// afterwards every file is checked byte for byte against what the report says.

#include "testutil.h"

#include "ops/convert.h"
#include "ops/rename.h"
#include "ops/replace.h"
#include "ops/testhook.h"

#include <QTemporaryDir>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>

using namespace torvale;
using namespace testutil;

namespace {

const QByteArray kBom("\xEF\xBB\xBF");
const QByteArray kBadName("bad\xFF\xFE.txt"); // not valid UTF-8

// Every entry of a folder by its raw name: the bytes of a file, the target of
// a link, or what kind of entry it is.
QMap<QByteArray, QByteArray> raw_snapshot(const QString &dir)
{
    QMap<QByteArray, QByteArray> entries;
    DIR *d = ::opendir(QFile::encodeName(dir).constData());
    if (!d)
        return entries;
    while (dirent *e = ::readdir(d)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = QFile::encodeName(dir) + '/' + name;
        struct stat st;
        ::lstat(path.constData(), &st);
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlink(path.constData(), target, sizeof target);
            entries.insert(name, "link:" + QByteArray(target, int(n)));
        } else if (S_ISREG(st.st_mode)) {
            QFile f(QFile::decodeName(path));
            int fd = ::open(path.constData(), O_RDONLY);
            QByteArray bytes;
            char buffer[65536];
            for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
                bytes.append(buffer, n);
            ::close(fd);
            entries.insert(name, bytes);
        } else {
            entries.insert(name, S_ISDIR(st.st_mode) ? "<dir>" : "<special>");
        }
    }
    ::closedir(d);
    return entries;
}

struct HostileFolder
{
    QTemporaryDir tmp;
    QTemporaryDir outside;
    QString dir() const { return tmp.path(); }
    QByteArray longName = QByteArray(251, 'x') + ".txt";

    HostileFolder()
    {
        const QString d = dir();
        write(d, "normal.txt", "old\r\n");
        write(d, "read only.txt", "old");
        QFile::setPermissions(QDir(d).filePath("read only.txt"), QFileDevice::ReadOwner | QFileDevice::ReadOther);
        write(d, "quote\"'#%.txt", "old");
        write(d, "new\nline.txt", "old");
        write(d, u("中文 名.txt"), gbk(u("旧old")));
        write(d, QString::fromLatin1(longName), "old");
        const int fd = ::open((QFile::encodeName(d) + '/' + kBadName).constData(), O_WRONLY | O_CREAT, 0644);
        (void)!::write(fd, "old", 3);
        ::close(fd);
        QFile::link("normal.txt", QDir(d).filePath("link-in.txt"));
        write(outside.path(), "target.txt", "old");
        QFile::link(QDir(outside.path()).filePath("target.txt"), QDir(d).filePath("link-out.txt"));
        ::mkfifo(QFile::encodeName(QDir(d).filePath("fifo.txt")).constData(), 0644);
        write(d, ".hidden.txt", "old");
        write(d, "empty.txt", "");
        write(d, "binary.dat", QByteArray("\0old\0", 5));
        write(d, "badgbk.txt", "old \x81\x20");
        write(d, "utf8.txt", u("旧 old").toUtf8());
        write(d, "bom.txt", kBom + "old");
        QDir(d).mkdir("sub.txt");
        write(QDir(d).filePath("sub.txt"), "inner.txt", "old");
    }
};

// The names that are plain files to every operation.
const QList<QByteArray> kPlain = {"normal.txt", "read only.txt", "quote\"'#%.txt", "new\nline.txt",
                                  "中文 名.txt", "empty.txt", "binary.dat", "badgbk.txt", "utf8.txt", "bom.txt"};

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

    // Entries that no operation may touch, compared before and after.
    void checkUntouchedOthers(const HostileFolder &folder, const QMap<QByteArray, QByteArray> &before)
    {
        const auto after = raw_snapshot(folder.dir());
        for (const QByteArray &name : {QByteArray("link-in.txt"), QByteArray("link-out.txt"), QByteArray("fifo.txt"),
                                      QByteArray(".hidden.txt"), QByteArray("sub.txt"), kBadName})
            QCOMPARE(after.value(name), before.value(name));
        QCOMPARE(read(folder.outside.path(), "target.txt"), QByteArray("old"));
        QCOMPARE(read(QDir(folder.dir()).filePath("sub.txt"), "inner.txt"), QByteArray("old"));
    }

private slots:
    void cleanup() { after_planning_hook = nullptr; }

    void rename()
    {
        HostileFolder folder;
        const auto before = raw_snapshot(folder.dir());
        const Report report = run_rename({folder.dir(), "r", "1", 0});
        QVERIFY2(report.ok(), qPrintable(report.message));
        QCOMPARE(report.changed, kPlain.size() + 1); // and the long name
        const auto after = raw_snapshot(folder.dir());
        // Same number of entries, every plain file's bytes still there once.
        QCOMPARE(after.size(), before.size());
        QList<QByteArray> oldContents, newContents;
        for (const QByteArray &name : kPlain + QList<QByteArray>{folder.longName})
            oldContents << before.value(name);
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (it.key().startsWith("r"))
                newContents << it.value();
        }
        std::sort(oldContents.begin(), oldContents.end());
        std::sort(newContents.begin(), newContents.end());
        QCOMPARE(newContents, oldContents);
        checkUntouchedOthers(folder, before);
    }

    void replace()
    {
        HostileFolder folder;
        const auto before = raw_snapshot(folder.dir());
        const Report report = run_replace({folder.dir(), "old", "new"});
        QStringList skipped;
        for (const Problem &p : report.problems)
            skipped << p.name;
        skipped.sort();
        QCOMPARE(skipped, (QStringList{"badgbk.txt", "binary.dat", "read only.txt"}));
        const auto after = raw_snapshot(folder.dir());
        QCOMPARE(after.keys(), before.keys());
        const QMap<QByteArray, QByteArray> expected = {
            {"normal.txt", "new\r\n"},      {"read only.txt", "old"},        {"quote\"'#%.txt", "new"},
            {"new\nline.txt", "new"},       {"中文 名.txt", gbk(u("旧new"))}, {"empty.txt", ""},
            {"binary.dat", QByteArray("\0old\0", 5)}, {"badgbk.txt", "old \x81\x20"},
            {"utf8.txt", u("旧 new").toUtf8()}, {"bom.txt", kBom + "new"}, {folder.longName, "new"}};
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            QVERIFY2(after.value(it.key()) == it.value(), it.key().constData());
        QCOMPARE(report.changed, 7); // all with an occurrence but the three skipped
        checkUntouchedOthers(folder, before);
    }

    void convert()
    {
        HostileFolder folder;
        const auto before = raw_snapshot(folder.dir());
        const Report report = run_convert({folder.dir(), "T"});
        QStringList skipped;
        for (const Problem &p : report.problems)
            skipped << p.name;
        skipped.sort();
        QCOMPARE(skipped, (QStringList{"badgbk.txt"}));
        const auto after = raw_snapshot(folder.dir());
        for (const QByteArray name : {"normal", "read only", "quote\"'#%", "new\nline", "中文 名", "empty", "utf8", "bom"})
            QVERIFY2(after.contains(name + ".htm"), name.constData());
        QVERIFY(after.contains(QByteArray(251, 'x') + ".htm"));
        for (const QByteArray name : {"link-in.htm", "link-out.htm", "fifo.htm", ".hidden.htm", "badgbk.htm"})
            QVERIFY2(!after.contains(name), name.constData());
        for (const QByteArray &name : kPlain)
            QCOMPARE(after.value(name), before.value(name)); // sources are only read
        QVERIFY(after.value("index.htm").contains("<a HREF=\"quote%22'%23%25.htm\">old</a><BR>"));
        checkUntouchedOthers(folder, before);
    }

    // Files that turn up after the listing are left alone by every operation.
    void fileAppearingDuringTheRun()
    {
        for (int op = 0; op < 3; ++op) {
            QTemporaryDir tmp;
            write(tmp.path(), "a.txt", "old");
            after_planning_hook = [](const QString &dir) { write(dir, "late.txt", "old"); };
            if (op == 0)
                QVERIFY(run_rename({tmp.path(), "n", "1", 0}).ok());
            else if (op == 1)
                QVERIFY(run_replace({tmp.path(), "old", "new"}).ok());
            else
                QVERIFY(run_convert({tmp.path(), "T"}).ok());
            QCOMPARE(read(tmp.path(), "late.txt"), QByteArray("old"));
            QVERIFY(!QFile::exists(QDir(tmp.path()).filePath("late.htm")));
        }
    }

    // A 1 GiB file (sparse, so it costs no disk) is never read whole.
    void hugeFileKeepsMemorySmall()
    {
        QTemporaryDir tmp;
        write(tmp.path(), "a.txt", "old");
        QFile big(QDir(tmp.path()).filePath("big.txt"));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(qint64(1) << 30));
        big.close();
        for (int op = 1; op <= 2; ++op) {
            const pid_t child = ::fork();
            if (child == 0) {
                const Report report = op == 1 ? run_replace({tmp.path(), "old", "new"}) : run_convert({tmp.path(), "T"});
                ::_exit(report.changed == 1 ? 0 : 1);
            }
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        struct rusage usage;
        QCOMPARE(::getrusage(RUSAGE_CHILDREN, &usage), 0);
        QVERIFY2(usage.ru_maxrss < 200 * 1024, qPrintable(QString::number(usage.ru_maxrss)));
    }

    // A full disk: the rewrite and the pages fail, the files stay whole.
    void fullDisk()
    {
        if (!running_as_root())
            QSKIP("needs root to mount a small file system for the full disk");
        QTemporaryDir tmp;
        if (::mount("tmpfs", QFile::encodeName(tmp.path()).constData(), "tmpfs", 0, "size=256k") != 0)
            QSKIP("cannot mount a small file system here (no right to mount); full disk not tested");
        const QByteArray old = QByteArray("old ").repeated(40000); // 160 KB, the disk cannot hold two
        write(tmp.path(), "a.txt", old);
        const Report replace = run_replace({tmp.path(), "old", "newer"});
        const Report convert = run_convert({tmp.path(), "T"});
        const QByteArray after = read(tmp.path(), "a.txt");
        const QStringList names = QDir(tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        const QByteArray index = read(tmp.path(), "index.htm");
        ::umount2(QFile::encodeName(tmp.path()).constData(), MNT_DETACH);
        QCOMPARE(replace.changed, 0);
        QCOMPARE(replace.problems.size(), 1);
        QCOMPARE(convert.changed, 0);
        QVERIFY(!convert.problems.isEmpty());
        QCOMPARE(after, old);
        QVERIFY(!index.contains("<a HREF=")); // it links only pages that were written
        QCOMPARE(names, (QStringList{"a.txt", "index.htm"})); // no half-written page or temporary file
    }
};

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
