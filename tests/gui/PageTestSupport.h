#pragma once

#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/SettingsFile.h"
#include "settings/UiLanguage.h"
#include "display/CColorEdit.h"
#include "display/CListCtrlEx3.h"
#include "display/CSortHeaderCtrl.h"
#include "display/SessionListModel.h"
#include "monitor/SessionMonitorPage.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionReset.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"
#include "session/HostNameSource.h"

namespace varnel::test {

// Runs the event loop until `done` or `ms` have passed; returns `done()`.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Names nobody yet: every address answers "(address)", as while its lookup is pending.
class PendingHostNames : public HostNameSource {
  public:
    void LookupHostName(const char* address, char* out, size_t outSize) override {
        std::snprintf(out, outSize, "(%s)", address);
    }
};

// The real page on the fakes, with a settings file, a rule file and a log folder in a temporary
// folder. Message boxes and started programs are recorded instead of shown or run.
class PageHarness {
  public:
    PageHarness() : settings(dir.filePath("varnel.ini").toStdString()) {
        settings.WriteInt("Session", "AutoStart", 0);
        processes.processes = {{77, "curl"}, {88, "ssh"}};
    }

    SessionMonitorPage& Make(UiLanguage lang = UiLanguage::English()) {
        page.reset();
        MonitorPlatform platform{table, processes, useReset ? *useReset : reset, clock, &names,
                                 [this] { ++flushes; }, prepareReset, events};
        page = std::make_unique<SessionMonitorPage>(platform, settings, RulePath(), dir.path().toStdString(),
                                                    lang);
        page->SetWarn([this](const QString& text) { warnings.push_back(text); });
        page->SetStartProgram([this](const QString& program, const QStringList& arguments) {
            started.push_back(program);
            startedArguments.push_back(arguments);
            return startSucceeds;
        });
        // Laid out as the main window lays it out, whenever it asks.
        QObject::connect(page.get(), &SessionMonitorPage::layoutRequested, page.get(), [p = page.get()] {
            p->ApplyLayout(MainWindowLayout::Compute({4, 23, p->width(), p->height() + 19}, 100, p->logView()));
        });
        page->resize(800, 400);
        return *page;
    }

    std::string RulePath() const { return dir.filePath("varnel_autoblock.txt").toStdString(); }
    void WriteRules(const std::string& text) const { std::ofstream(RulePath(), std::ios::binary) << text; }

    // The texts of one column, top to bottom, as the list's model shows them.
    std::vector<std::string> Column(int column) const {
        std::vector<std::string> out;
        SessionListModel& m = page->model();
        for (int r = 0; r < m.rowCount(); ++r)
            out.push_back(m.data(m.index(r, column)).toString().toStdString());
        return out;
    }

    void Select(std::initializer_list<int> rows) const {
        auto* selection = page->list()->selectionModel();
        selection->clearSelection();
        for (int r : rows)
            selection->select(page->model().index(r, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    QTemporaryDir dir;
    SettingsFile settings;
    FakeConnectionTable table;
    FakeProcessList processes;
    FakeConnectionReset reset;
    // When set before Make, the page resets through this one instead, prepared by prepareReset.
    ConnectionReset* useReset = nullptr;
    std::function<void(bool forKill)> prepareReset;
    ConnectEventSource* events = nullptr;  // kernel connection events, when set before Make
    FakeClock clock;
    PendingHostNames names;
    int flushes = 0;
    std::vector<QString> warnings;
    std::vector<QString> started;
    std::vector<QStringList> startedArguments;
    bool startSucceeds = true;
    std::unique_ptr<SessionMonitorPage> page;
};

}  // namespace varnel::test
