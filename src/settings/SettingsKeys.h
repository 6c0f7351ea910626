#pragma once

#include <climits>

namespace varnel {

// One key of the settings file and how it reads. Every reader and writer names its key through
// these entries (SettingsFile::Read / Write / Batch), so a default, a clamp or the meaning of a
// switch is written once. The colour keys of section "Surveil" are the rows of the colour scheme's
// own table (ColorScheme::Item), which is their one source.

// A number: `defaultValue` when the key is missing; a read is clamped to [min, max].
struct IntKey {
    const char* section;
    const char* name;
    int defaultValue;
    int min = INT_MIN;
    int max = INT_MAX;
};

// An on/off switch, written as 1 or 0. `onlyOne`: on only when the stored number is exactly 1
// (2, -1 and no number are off); otherwise on for any number but 0. `defaultOn` when missing.
struct SwitchKey {
    const char* section;
    const char* name;
    bool defaultOn;
    bool onlyOne;
};

// A text: `defaultText` when the key is missing; a present empty value reads as empty.
struct TextKey {
    const char* section;
    const char* name;
    const char* defaultText;
};

namespace SettingsKeys {

inline constexpr const char* kSettingsSection = "Settings";
inline constexpr const char* kSessionSection = "Session";

// The main window ("Settings").
inline constexpr TextKey kPosition{kSettingsSection, "Position", ""};
inline constexpr SwitchKey kIsZoomed{kSettingsSection, "IsZoomed", false, false};
inline constexpr SwitchKey kWindowTopMost{kSettingsSection, "WindowTopMost", false, false};
inline constexpr SwitchKey kWindowStretch{kSettingsSection, "WindowStretch", true, false};
inline constexpr SwitchKey kMinimized{kSettingsSection, "Minimized", false, false};
// On: the window was shown when the program last ended (off: it sat in the tray).
inline constexpr SwitchKey kMainWindow{kSettingsSection, "MainWindow", true, false};
inline constexpr TextKey kLogRootFolder{kSettingsSection, "LogRootFolder", ""};
// The options dialog's last page and tab.
inline constexpr IntKey kConfigSel{kSettingsSection, "ConfigSel", 0};
inline constexpr IntKey kConfigTab{kSettingsSection, "ConfigTab", 0};

// The session monitor and auto kill ("Session").
// The log pane's height allowance: the page's painting limits it, the window's layout takes it
// as stored (its sums saturate) and writes back what it took.
inline constexpr IntKey kSplitSize{kSessionSection, "SplitSize", 100, 12, 1200};
inline constexpr IntKey kWindowSplitSize{kSessionSection, "SplitSize", 100};
inline constexpr IntKey kResetMaxConnections{kSessionSection, "ResetMaxConnections", 1440, 1, 65535};
// The column "Clipboard Copy" takes (0..8, "Select Copy items"); Hostname2 at first.
inline constexpr IntKey kCopyColumn{kSessionSection, "CopyColumn", 4, 0, 8};
inline constexpr SwitchKey kAskDns{kSessionSection, "AskDNS", true, false};
inline constexpr SwitchKey kAutoBlock{kSessionSection, "AutoBlock", false, true};
inline constexpr SwitchKey kAutoStart{kSessionSection, "AutoStart", true, true};
inline constexpr SwitchKey kAutoBlockLogView{kSessionSection, "AutoBlockLogView", false, false};
inline constexpr SwitchKey kShowIpv6{kSessionSection, "ShowIPv6", false, true};
inline constexpr SwitchKey kBlockedLog{kSessionSection, "BlockedLog", true, true};
// Cut a ruled connection the moment the kernel reports it, not only at the next tick (where the
// process may load the kernel's event program; else the ticks alone cut).
inline constexpr SwitchKey kInstantCut{kSessionSection, "InstantCut", true, false};
inline constexpr TextKey kColumnWidths{kSessionSection, "ColnmWidth", ""};
inline constexpr TextKey kLogViewer{kSessionSection, "LogViewer", ""};
// `--headless` writes its Prometheus metrics to this file (empty: none); --metrics-file overrides it.
inline constexpr TextKey kMetricsFile{kSessionSection, "MetricsFile", ""};
inline constexpr TextKey kAutoBlockLogFileName{kSessionSection, "AutoBlockLogFileName",
                                               "dunmoth_autoblock$YYYY$$MM$.log"};
inline constexpr TextKey kAutoBlockLogFormat{kSessionSection, "AutoBlockLogFormat",
                                             "BLOCKED [$DATE$ $TIME$] $HOST1$:$PORT1$ $HOST2$:$PORT2$ $PID$"};

// Every entry above (kWindowSplitSize is kSplitSize's key), for checks over the whole table.
inline constexpr const IntKey* kAllInts[] = {&kConfigSel, &kConfigTab, &kSplitSize, &kResetMaxConnections,
                                              &kCopyColumn};
inline constexpr const SwitchKey* kAllSwitches[] = {&kIsZoomed, &kWindowTopMost,    &kWindowStretch, &kMinimized,
                                                    &kMainWindow, &kAskDns,         &kAutoBlock,     &kAutoStart,
                                                    &kAutoBlockLogView, &kShowIpv6, &kBlockedLog,
                                                    &kInstantCut};
inline constexpr const TextKey* kAllTexts[] = {&kPosition,  &kLogRootFolder, &kColumnWidths,
                                               &kLogViewer, &kAutoBlockLogFileName, &kAutoBlockLogFormat,
                                               &kMetricsFile};

}  // namespace SettingsKeys

}  // namespace varnel
