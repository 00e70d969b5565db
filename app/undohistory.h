#pragma once

#include "ops/describe.h"
#include "ops/history.h"

#include <QString>

#include <memory>
#include <optional>

// The window's view of the lasting undo history: the run that 撤销上次操作
// would take back in the working folder (also one made before the program
// started, or by torvale-cli), the question it asks, and the undo itself.
class UndoHistory
{
public:
    // Opens this user's history; without it runs cannot be taken back.
    UndoHistory();

    // The history the window's runs are recorded in; none when it cannot be
    // opened (problem() says why).
    const std::shared_ptr<torvale::History> &history() const { return m_history; }
    QString problem() const { return m_problem; }

    // Looks again at what can be taken back in the folder (after a run, or
    // when the working folder changes); an empty path: none.
    void look_at(const QString &folderPath);
    bool available() const { return m_last.has_value(); }
    // The question before an undo: the operation, its time, the folder and
    // what taking it back does, in the operation's own words.
    QString question() const;

    // Takes the run back (on any thread): plans from the folder as it is
    // now, then puts back what may be put back.
    torvale::Report undo(const torvale::Progress &progress) const;

private:
    std::shared_ptr<torvale::History> m_history;
    QString m_problem;
    QString m_folderPath;
    std::optional<torvale::HistoryRun> m_last;
};
