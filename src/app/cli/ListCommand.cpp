#include "app/cli/ListCommand.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "engine/MonitorEngine.h"
#include "session/SessionMonitor.h"
#include "session/SessionRow.h"
#include "text/FixedText.h"

namespace varnel {

namespace {

bool Pending(const SessionRow& row) {
    return std::strchr(row[kColLocalHost], '(') || std::strchr(row[kColRemoteHost], '(');
}

void PutRow(std::ostream& out, const SessionRow& row) {
    for (int c = 0; c < kColumnCount; ++c) {
        if (c) out.put('\t');
        out << PrintableLine(row[c]);
    }
    out.put('\n');
}

}  // namespace

bool ListCommand::AnyPending(SessionMonitor& monitor) {
    bool pending = false;
    for (int i = 0; i < monitor.listCount() && !pending; ++i) pending = Pending(monitor.Row(i));
    if (!all_) return pending;
    // Asks for the names of the connections beyond the list too (all of them, not only until the
    // first pending one, so their lookups run side by side).
    auto scratch = std::make_unique<SessionRecord>();
    SessionRow row;
    const std::vector<KeptConnection>& kept = monitor.kept();
    for (size_t k = static_cast<size_t>(monitor.rowCount()); k < monitor.shownKeptCount(); ++k) {
        monitor.BuildKeptRow(kept[k], monitor.clock().TickMs(), *scratch, row);
        pending = pending || Pending(row);
    }
    return pending;
}

int ListCommand::Run(std::ostream& out, std::ostream& err) {
    auto engine = std::make_unique<MonitorEngine>(
        MonitorEngine::Platform{table_, processes_, clock_, hostNames_}, lang_);
    SessionMonitor* monitor = &engine->monitor();
    engine->SetShowIpv6(ipv6_);
    engine->Start();
    engine->Tick();
    if (!monitor->TableReadOk()) {
        err << "varnel: cannot read the connection table\n" << std::flush;
        return 1;
    }
    // Give the background lookups their chance, polling the way the window would, only faster.
    for (int waited = 0; hostNames_ != nullptr && waited < resolveWaitMs_ && AnyPending(*monitor);
         waited += 50) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        engine->Tick();
    }

    for (int c = 0; c < kColumnCount; ++c) {
        if (c) out.put('\t');
        out << ColumnTitle(c, lang_);
    }
    out.put('\n');
    for (int i = 0; i < monitor->listCount(); ++i) PutRow(out, monitor->Row(i));
    if (all_) {
        auto scratch = std::make_unique<SessionRecord>();
        SessionRow row;
        const std::vector<KeptConnection>& kept = monitor->kept();
        for (size_t k = static_cast<size_t>(monitor->rowCount()); k < monitor->shownKeptCount(); ++k) {
            monitor->BuildKeptRow(kept[k], monitor->clock().TickMs(), *scratch, row,
                                  SessionMonitor::KeptState::kAsInTable);
            PutRow(out, row);
        }
    }
    out.flush();
    return 0;
}

}  // namespace varnel
