#include "testhook.h"

namespace torvale {

std::function<void(const QString &dir)> after_planning_hook;

} // namespace torvale
