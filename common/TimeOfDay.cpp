#include "common/TimeOfDay.h"

#include <QTime>

namespace common {

uint32_t TimeOfDayMs() {
    const QTime now = QTime::currentTime();
    return now.isValid() ? static_cast<uint32_t>(now.msecsSinceStartOfDay()) : 0;
}

} // namespace common
