#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <initializer_list>
#include <memory>
#include <string>

#include "app/gui/MainWindow.h"
#include "gui/PageTestSupport.h"

namespace varnel::test {

inline void SendKey(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(target, &release);
}

// The main window on the fake platform of PageHarness, with a tray by `tray`, the About box and
// the caption's flash counted.
class MainWindowFixture : public ::testing::Test {
  protected:
    std::unique_ptr<MainWindow> Make(UiLanguage lang = UiLanguage::English(), bool resolver = true) {
        MonitorPlatform platform{
            h.table, h.processes, h.reset, h.clock, resolver ? &h.names : nullptr, [this] { ++h.flushes; }};
        auto w = std::make_unique<MainWindow>(platform, h.settings, h.RulePath(), h.dir.path().toStdString(),
                                              lang);
        w->SetTrayAvailable([this] { return tray; });
        w->SetShowAbout([this] { ++abouts; });
        w->SetAlert([this] { ++alerts; });
        return w;
    }

    // Every key of the file as "section/key=value" lines, to compare two teardowns.
    std::string Keys(std::initializer_list<const char*> names) const {
        std::string out;
        for (const char* name : names) {
            const std::string key(name);
            const size_t slash = key.find('/');
            out += key + "=" + h.settings.ReadString(key.substr(0, slash), key.substr(slash + 1), "<none>") +
                   "\n";
        }
        return out;
    }

    PageHarness h;
    bool tray = true;
    int abouts = 0;
    int alerts = 0;
};

}  // namespace varnel::test
