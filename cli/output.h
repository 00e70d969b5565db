#pragma once

// What torvale-cli prints: plans and reports as lines for people (or, with
// --json, one JSON object per line for scripts), and the progress of a long
// run on a terminal.

#include "ops/describe.h"

#include <QElapsedTimer>

enum ExitCode { Success = 0, Trouble = 1, Usage = 2 };

struct OutputStyle
{
    bool json = false;    // one JSON object per line, nothing else on stdout
    bool quiet = false;   // only errors
    bool verbose = false; // every file changed, one per line
};

void print(const QString &text);
void print_error(const QString &text);

// --dry-run: the plan, one line per file, and the status the run would end with.
int print_plan(const torvale::RenamePlan &plan, const OutputStyle &style);
int print_plan(const torvale::ReplacePlan &plan, const OutputStyle &style);
int print_plan(const torvale::ConvertPlan &plan, const OutputStyle &style);
int print_plan(const torvale::UndoPlan &plan, const OutputStyle &style);

// What a run did, and the exit status it ends with (128 + the signal that
// stopped it, when one did).
int print_report(torvale::Operation operation, const torvale::Report &report, const OutputStyle &style,
                 int stopSignal);

// The progress of a run on a terminal: one line on stderr, files done of the
// total, the time so far and an estimate of the rest, redrawn at most ten
// times a second once the run has taken a second, and erased at its end.
// Nothing when stderr is no terminal (a pipe or a file).
class TerminalProgress
{
public:
    explicit TerminalProgress(bool wanted);
    ~TerminalProgress();
    torvale::Progress progress();

private:
    void update(int value, int maximum);

    bool m_on;
    bool m_shown = false;
    QElapsedTimer m_started;
    qint64 m_lastDrawn = -1000;
};
