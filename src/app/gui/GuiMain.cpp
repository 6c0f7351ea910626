#include "app/gui/GuiMain.h"

#include <QApplication>
#include <QFont>
#include <memory>

#include "settings/ConfigLocation.h"
#include "settings/SettingsFile.h"
#include "app/gui/MainWindow.h"
#include "platform/linux/LinuxConnectionTable.h"
#include "platform/linux/NetlinkSocketDestroy.h"
#include "platform/linux/ProcProcessList.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/SystemReverseLookup.h"
#include "resolve/HostNameCache.h"
#include "resolve/ResolverPool.h"

namespace varnel {

int RunWindow(int argc, char** argv, const CommandLine& cl, const UiLanguage& lang) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(
        QString::fromStdString(ConfigLocation::BaseNameOf(ConfigLocation::ExecutablePath())));
    if (lang.IsJapanese()) {
        // Japanese texts need a font that has the glyphs; fontconfig falls back to it for the rest.
        QFont font = QApplication::font();
        font.setFamilies({font.family(), "VL PGothic", "VL Gothic", "Noto Sans CJK JP"});
        QApplication::setFont(font);
    }

    ConfigLocation location = ConfigLocation::ForThisProcess(cl.configDir);
    SettingsFile settings(location.SettingsPath());

    LinuxConnectionTable table;
    ProcProcessList processes;
    NetlinkSocketDestroy reset;
    SystemClock clock;
    auto cache = std::make_shared<HostNameCache>();
    std::unique_ptr<ResolverPool> resolver =
        cl.noResolve ? nullptr
                     : std::make_unique<ResolverPool>(cache, std::make_shared<SystemReverseLookup>());

    int status = 0;
    {
        MonitorPlatform platform{table, processes, reset, clock, resolver.get(), [cache] { cache->Flush(); }};
        MainWindow window(platform, settings, location.RuleFilePath(), location.folder(), lang);
        window.show();
        status = QApplication::exec();
    }
    // Workers still inside a lookup drop their answers after Shutdown, so the flush stays empty.
    if (resolver) resolver->Shutdown();
    cache->Flush();
    return status;
}

}  // namespace varnel
