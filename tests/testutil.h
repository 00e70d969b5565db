#pragma once

// Helpers shared by the tests: files in temporary folders by their raw names,
// a snapshot of a folder to prove that nothing was lost or changed, other
// users, small disks, and faults injected from outside with strace.

#include "ops/convert.h"
#include "ops/rename.h"
#include "ops/replace.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testutil {

// A test that cannot run here (no ptrace for strace, no right to mount...)
// is skipped and listed in the file TORVALE_SKIP_LOG names, which
// scripts/test prints; under CI=true it fails instead, so that a green run
// never hides a test that did not run.
inline void note_skip(const char *why)
{
    const QString log = qEnvironmentVariable("TORVALE_SKIP_LOG");
    QFile file(log);
    if (!log.isEmpty() && file.open(QIODevice::Append)) {
        file.write(
            QByteArray(QTest::currentAppName()) + "::" + QTest::currentTestFunction() +
            (QTest::currentDataTag() ? QByteArray("(") + QTest::currentDataTag() + ")" : QByteArray()) +
            ": " + why + "\n");
    }
}
#define TORVALE_REQUIRE(condition, why)                                                                      \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            testutil::note_skip(why);                                                                        \
            if (qEnvironmentVariable("CI") == QLatin1String("true"))                                         \
                QFAIL("cannot run here, and CI must run every test: " why);                                  \
            QSKIP(why);                                                                                      \
        }                                                                                                    \
    } while (false)

// Plans and runs an operation at once, as a press of its button does.
inline torvale::Report run_rename(const torvale::RenameParams &params, const torvale::Progress &progress = {})
{
    return torvale::apply_rename(torvale::plan_rename(params), progress);
}
inline torvale::Report run_replace(const torvale::ReplaceParams &params,
                                   const torvale::Progress &progress = {})
{
    return torvale::apply_replace(torvale::plan_replace(params), progress);
}
inline torvale::Report run_convert(const torvale::ConvertParams &params,
                                   const torvale::Progress &progress = {})
{
    return torvale::apply_convert(torvale::plan_convert(params), progress);
}

inline QByteArray gbk(const QString &text)
{
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

inline QByteArray gb18030(const QString &text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

// UTF-16 without a byte-order mark.
inline QByteArray le(const QString &text)
{
    QStringEncoder encoder(QStringEncoder::Utf16LE);
    return encoder.encode(text);
}

inline QByteArray be(const QString &text)
{
    QStringEncoder encoder(QStringEncoder::Utf16BE);
    return encoder.encode(text);
}

inline QString u(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

inline QByteArray path_of(const QString &dir, const QByteArray &name)
{
    return QFile::encodeName(dir) + '/' + name;
}

inline void write(const QString &dir, const QByteArray &name, const QByteArray &bytes)
{
    const int fd = ::open(path_of(dir, name).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY2(fd >= 0, name.constData());
    QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    ::close(fd);
}

inline QByteArray read(const QString &dir, const QByteArray &name)
{
    const int fd = ::open(path_of(dir, name).constData(), O_RDONLY | O_NOFOLLOW);
    if (fd < 0)
        return "<missing>";
    QByteArray bytes;
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, int(n));
    ::close(fd);
    return bytes;
}

// Every entry of a folder by its raw name: the bytes of a file, the target
// of a link, or what kind of entry it is.
inline QMap<QByteArray, QByteArray> snapshot(const QString &dir)
{
    QMap<QByteArray, QByteArray> entries;
    DIR *d = ::opendir(QFile::encodeName(dir).constData());
    while (dirent *e = d ? ::readdir(d) : nullptr) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat st;
        ::lstat(path_of(dir, name).constData(), &st);
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlink(path_of(dir, name).constData(), target, sizeof target);
            entries.insert(name, "link:" + QByteArray(target, int(n)));
        } else {
            entries.insert(name, S_ISREG(st.st_mode)
                                     ? read(dir, name)
                                     : QByteArray(S_ISDIR(st.st_mode) ? "<dir>" : "<special>"));
        }
    }
    if (d)
        ::closedir(d);
    return entries;
}

// A temporary folder removed by its bytes: Qt cannot remove names that are
// not UTF-8, and the tests make many.
struct TempDir
{
    QTemporaryDir dir;
    TempDir() { dir.setAutoRemove(false); }
    explicit TempDir(const QString &pattern) : dir(pattern) { dir.setAutoRemove(false); }
    ~TempDir()
    {
        ::nftw(
            QFile::encodeName(dir.path()).constData(),
            [](const char *path, const struct stat *, int, struct FTW *) { return ::remove(path), 0; }, 16,
            FTW_DEPTH | FTW_PHYS);
    }
    QString path() const { return dir.path(); }
};

inline bool running_as_root()
{
    return ::geteuid() == 0;
}

// Runs the body in a child process as another, unprivileged user (nobody), so
// that permissions stop it as they stop someone else. Returns the body's
// result, or -1 when that user cannot be had: the tests do not run as root
// (the body would run as the owner of the files), or the child could not
// drop its rights.
inline int run_unprivileged(const std::function<int()> &body)
{
    const pid_t child = running_as_root() ? ::fork() : -1;
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(255);
        ::_exit(body());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) == 255)
        return -1;
    return WEXITSTATUS(status);
}

// A small file system of its own, to fill up; needs the right to mount.
struct SmallDisk
{
    QTemporaryDir dir;
    bool mounted = false;
    explicit SmallDisk(const char *size = "size=1m")
    {
        mounted = ::mount("tmpfs", QFile::encodeName(dir.path()).constData(), "tmpfs", 0, size) == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            ::umount2(QFile::encodeName(dir.path()).constData(), MNT_DETACH);
    }
    QString path() const { return dir.path(); }
    // Fills what is left of the disk with one hidden file.
    void fill()
    {
        const int fd = ::open(path_of(path(), ".filler").constData(), O_WRONLY | O_CREAT, 0600);
        const QByteArray block(4096, 'f');
        while (::write(fd, block.constData(), size_t(block.size())) > 0) {
        }
        for (int n = 1; n > 0;)
            n = int(::write(fd, "f", 1));
        ::close(fd);
    }
};

struct Run
{
    int exitCode = -1;
    bool crashed = false; // ended by a signal
    QString out;
    QString err;
};

// Runs torvale-cli; with faults, under strace with these -e arguments
// ("inject=renameat2:signal=SIGKILL:when=5", say).
// The tests never touch the undo history of the user who runs them: theirs
// is in a temporary folder (for the window and everything else in process).
inline const QTemporaryDir kStateHome;
inline const bool kStateHomeSet = qputenv("XDG_STATE_HOME", QFile::encodeName(kStateHome.path()));

// Each run of torvale-cli in a test records into an undo history of its own
// (a fresh folder), unless the test names one: runs stay apart, the same
// command makes the same system calls, and no real history is touched.
inline void use_history(QProcess &process, QString stateHome = {})
{
    static QTemporaryDir root;
    static int runs = 0;
    if (stateHome.isEmpty()) {
        stateHome = root.path() + '/' + QString::number(++runs);
        QDir().mkpath(stateHome);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", stateHome);
    process.setProcessEnvironment(env);
}

inline Run cli(const QStringList &arguments, const QStringList &faults = {}, const QString &stateHome = {})
{
    QProcess process;
    use_history(process, stateHome);
    QStringList straceArgs{"-f", "-qq", "-o", "/dev/null"};
    for (const QString &fault : faults)
        straceArgs << "-e" << fault;
    if (faults.isEmpty())
        process.start(QStringLiteral(TORVALE_CLI), arguments);
    else
        process.start("strace", straceArgs + QStringList{QStringLiteral(TORVALE_CLI)} + arguments);
    Run run;
    if (!process.waitForFinished(300000))
        return run;
    run.exitCode = process.exitCode();
    run.crashed = process.exitStatus() == QProcess::CrashExit || run.exitCode == 128 + SIGKILL;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// Starts torvale-cli under strace without waiting for it, for a test that
// acts while the run is held at a chosen system call.
inline void start_cli(QProcess &process, const QStringList &arguments, const QStringList &faults)
{
    use_history(process);
    QStringList straceArgs{"-f", "-qq", "-o", "/dev/null"};
    for (const QString &fault : faults)
        straceArgs << "-e" << fault;
    process.start("strace", straceArgs + QStringList{QStringLiteral(TORVALE_CLI)} + arguments);
}

// Where a fault lands: the number, within its thread, of the call of the
// syscall whose line holds needle (the occurrence-th such call), in a run of
// the arguments ("DIR" standing for the folder) on a folder that prepare
// makes; strace's when= counts each thread's calls apart. 0 when none.
inline int call_number(const std::function<void(const QString &dir)> &prepare, QStringList arguments,
                       const QString &syscall, const QString &needle, int occurrence = 1)
{
    QTemporaryDir dir, log;
    prepare(dir.path());
    arguments.replaceInStrings("DIR", dir.path());
    QProcess process;
    use_history(process);
    process.start("strace", QStringList{"-f", "-qq", "-o", log.filePath("log"), "-e", "trace=" + syscall,
                                        QStringLiteral(TORVALE_CLI)} +
                                arguments);
    process.waitForFinished(300000);
    QFile file(log.filePath("log"));
    file.open(QIODevice::ReadOnly);
    QMap<QString, int> calls; // per thread
    for (const QString &line : QString::fromUtf8(file.readAll()).split('\n')) {
        const QStringList fields = line.simplified().split(' ');
        if (fields.size() < 2 || !fields[1].startsWith(syscall + '('))
            continue; // a call resumed after a switch of thread, counted already
        const int number = ++calls[fields[0]];
        if (line.contains(needle) && --occurrence == 0)
            return number;
    }
    return 0;
}

// Whether strace can inject faults here (it needs ptrace).
inline bool strace_works()
{
    QProcess process;
    process.start("strace", {"-qq", "-o", "/dev/null", "-e", "inject=getpid:error=EPERM", "true"});
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace testutil
