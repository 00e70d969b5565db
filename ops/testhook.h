#pragma once

#include <QString>

#include <functional>

namespace torvale {

// Called by every operation after it has listed and planned and before it
// changes the first file, with the working directory. Empty in the program;
// tests set it to change the folder under a run (a file vanishing, say).
extern std::function<void(const QString &dir)> after_planning_hook;

inline void after_planning(const QString &dir)
{
    if (after_planning_hook)
        after_planning_hook(dir);
}

} // namespace torvale
