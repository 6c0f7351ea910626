#pragma once

#include "settings/UiLanguage.h"
#include "platform/linux/LinuxConnectionTable.h"
#include "platform/linux/ProcProcessList.h"
#include "platform/linux/SystemClock.h"
#include "session/SessionMonitor.h"

namespace varnel {

// A session monitor on the machine's own connection table, process list and clock, as the
// program runs it (English texts, no host names unless a source is set).
struct MonitorRig {
    LinuxConnectionTable table;
    ProcProcessList processes;
    SystemClock clock;
    SessionMonitor monitor{table, processes, clock, UiLanguage::English()};
};

}  // namespace varnel
