#pragma once

// Helpers shared by the tests: files in temporary folders, and a snapshot of
// a folder to prove that nothing was lost or changed.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QStringEncoder>
#include <QTest>

#include <functional>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testutil {

inline QByteArray gbk(const QString &text)
{
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

inline QString u(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

inline void write(const QString &dir, const QString &name, const QByteArray &bytes)
{
    QFile file(QDir(dir).filePath(name));
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    QCOMPARE(file.write(bytes), bytes.size());
}

inline QByteArray read(const QString &dir, const QString &name)
{
    QFile file(QDir(dir).filePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

// Every entry of a folder (hidden ones too) with the bytes of the files.
inline QMap<QString, QByteArray> snapshot(const QString &dir)
{
    QMap<QString, QByteArray> entries;
    const QFileInfoList infos =
        QDir(dir).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &info : infos) {
        if (info.isSymLink())
            entries.insert(info.fileName(), "-> " + QFile::encodeName(info.symLinkTarget()));
        else if (info.isFile())
            entries.insert(info.fileName(), read(dir, info.fileName()));
        else
            entries.insert(info.fileName(), "<dir or special>");
    }
    return entries;
}

inline bool running_as_root()
{
    return ::geteuid() == 0;
}

// Runs the body in a child process as an unprivileged user (nobody, when the
// tests run as root), so that permissions stop it as they stop a user. Returns
// the body's result, or -1 when the child could not drop its rights.
inline int run_unprivileged(const std::function<int()> &body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(255);
        ::_exit(body());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 255)
        return -1;
    return WEXITSTATUS(status);
}

} // namespace testutil
