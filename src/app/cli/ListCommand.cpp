#include "app/cli/ListCommand.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "session/FixedText.h"
#include "session/SessionMonitor.h"
#include "session/SessionRow.h"

namespace varnel {

namespace {

bool AnyPending(const SessionMonitor& monitor) {
    for (int i = 0; i < monitor.listCount(); ++i)
        if (std::strchr(monitor.Row(i)[kColLocalHost], '(') || std::strchr(monitor.Row(i)[kColRemoteHost], '('))
            return true;
    return false;
}

}  // namespace

int ListCommand::Run(std::ostream& out) {
    auto monitor = std::make_unique<SessionMonitor>(table_, processes_, clock_, lang_);
    monitor->SetHostNameSource(hostNames_);
    monitor->Start();
    monitor->Tick();
    // Give the background lookups their chance, polling the way the window would, only faster.
    for (int waited = 0; hostNames_ != nullptr && waited < resolveWaitMs_ && AnyPending(*monitor); waited += 50) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        monitor->Tick();
    }

    for (int c = 0; c < kColumnCount; ++c) {
        if (c) out.put('\t');
        out << ColumnTitle(c, lang_);
    }
    out.put('\n');
    for (int i = 0; i < monitor->listCount(); ++i) {
        const SessionRow& row = monitor->Row(i);
        for (int c = 0; c < kColumnCount; ++c) {
            if (c) out.put('\t');
            out << PrintableLine(row[c]);
        }
        out.put('\n');
    }
    out.flush();
    return 0;
}

}  // namespace varnel
