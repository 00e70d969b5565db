#pragma once

#include "files/folder.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

namespace torvale {

// Called as the work goes on: value files done of maximum (the number of files
// plus one, so the value never reaches the maximum).
using Progress = std::function<void(int value, int maximum)>;

// Set (from any thread, or a signal handler) when the person asks a run to
// stop: a rename is put back, the other operations stop after the file in
// hand.
using StopRequest = std::atomic<bool>;

// Calls progress with every value from the last one given up to value (work
// done side by side finishes files several at a time).
struct StepwiseProgress
{
    const Progress &progress;
    int maximum;
    int last = 0;
    void operator()(int value)
    {
        while (progress && last < value)
            progress(++last, maximum);
    }
};

// A file that an operation skipped or failed on, and why.
struct Problem
{
    QString name; // as shown (FileName::shown)
    QString reason;
    bool wholeFolder = false; // the folder's, not one file's (its flush to disk failed)
};

// One change that an operation made, as much as taking it back needs.
struct Change
{
    enum class Kind {
        Renamed,   // oldName became name
        Rewritten, // name was given new bytes; backup holds the former ones
        Created,   // name is a new file
    };
    Kind kind = Kind::Created;
    QByteArray name;    // the file as the operation left it
    QByteArray oldName; // Renamed: its name before
    QByteArray backup;  // Rewritten: the copy of the former bytes in the backup folder
    Stamp after;        // the file as the operation left it
    Stamp before;       // Rewritten: the file it replaced
    qint32 hits = 0;    // Rewritten by find and replace: the occurrences replaced
};

// What an operation did.
struct Report
{
    enum class Status {
        Done,    // ran to its end; some files may have been skipped (see problems)
        Refused, // changed nothing, for the reason in message
        Failed,  // stopped part-way; message says what happened to the files
        Stopped, // stopped at the person's request; message says what was done and what was not
    };
    Status status = Status::Done;
    QString message;
    int files = 0;       // files handled: found for a rename, or the txt files of a conversion
    int changed = 0;     // files renamed or rewritten, pages written, changes taken back
    qint64 occurrences = 0; // occurrences replaced
    bool indexWritten = false;
    int filteredOut = 0; // files left out by the choice of files
    QList<Problem> problems;
    QStringList notes;     // things the user should know that went right (a mended earlier run, say)
    QList<Change> changes; // every change, where the plan asks for them (listChanges)

    bool ok() const { return status == Status::Done && problems.isEmpty(); }
};

// Notes that the folder's changes could not be flushed to disk.
inline void note_unsynced(Report &report, const Folder &folder, const QString &error)
{
    report.problems.append({folder.path(), QStringLiteral("无法把改动写入磁盘：%1").arg(error), true});
}

inline Report refused(const QString &why)
{
    Report report;
    report.status = Report::Status::Refused;
    report.message = why;
    return report;
}

} // namespace torvale
