#pragma once

#include <QDateTime>
#include <functional>

namespace ov {

// The wall clock the engine measures active download time with. Tests replace it.
QDateTime now();
void setClockForTesting(std::function<QDateTime()> clock);  // empty restores the real clock

}  // namespace ov
