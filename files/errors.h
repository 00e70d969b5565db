#pragma once

#include <QString>

namespace torvale {

// A reason for a failed system call, in Chinese.
QString describe_errno(int code);

// Why a file was left alone: it is no longer as it was planned.
extern const QString kChangedSincePlan;
// Why a file was left alone: it was changed or replaced while the run wrote
// its new version.
extern const QString kChangedDuringRun;

} // namespace torvale
