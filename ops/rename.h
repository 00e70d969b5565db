#pragma once

#include "report.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace torvale {

struct RenameParams
{
    QString dir;    // the working directory
    QString prefix; // as typed; spaces at both ends are dropped
    QString start;  // the start number as typed, read by parse_start_number
    int width = 0;  // number width in digits (2 to 8), 0 for no leading zeros
    bool keepChanges = false; // list each rename in the report, for undo
};

// The number rule: the text read from its start as a decimal number (sign,
// digits, decimal point and fraction, exponent), blanks between its characters
// skipped, the rest ignored; 0 when no digit is read.
double parse_start_number(const QString &text);

// A number in plain decimal notation: whole numbers as their digits, others
// with a decimal point and at most 15 significant digits in all.
QString number_text(double number);

// The message shown when a number is longer than the chosen width.
QString width_message();

struct RenameMove
{
    QString from;
    QString to;
};

// What a rename would do, made before anything is renamed.
struct RenamePlan
{
    QList<RenameMove> moves; // every file, in the order of the run
    QString refusal;         // when not empty, nothing may be renamed, for this reason
    int problemRow = -1;     // the move that the refusal is about, or -1
    bool ok() const { return refusal.isEmpty(); }
};

RenamePlan plan_rename(const RenameParams &params);

// Carries out renames within a folder, never replacing anything: a file whose
// new name is still held by another of the batch waits under a temporary name
// (listed in a journal beside it until the batch is done), and a failure puts
// back every file renamed before it. Sets the report's status, message and
// count of files renamed; stepDone is called after each move of the list.
void execute_moves(const QString &dir, const QList<RenameMove> &moves, Report &report,
                   const std::function<void()> &stepDone = {});

// What the next run found of a rename that was killed part-way: files put
// back from their temporary names, and temporary files it could not place.
struct RenameRecovery
{
    int restored = 0;
    QStringList leftOver;
};

// Puts files left under temporary names by an interrupted rename back to
// their old names (or on to their new ones where the old is taken).
RenameRecovery recover_interrupted_rename(const QString &dir);

// Mends what an interrupted run left, plans and, when the whole batch can be
// renamed, renames it. A rename that
// fails part-way puts back the files renamed before it.
Report run_rename(const RenameParams &params, const Progress &progress = {});

} // namespace torvale
