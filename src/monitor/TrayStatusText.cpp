#include "monitor/TrayStatusText.h"

#include <cstdio>

namespace varnel {

std::string TrayStatusText::Build(const State& state, const UiLanguage& lang) {
    std::string text = lang.Pick("Varnel (Kestrin)", "Varnel Kestrin");
    text += '\n';
    text += lang.Pick("自動切断: ", "Auto Kill Session: ");
    if (!state.autoKill)
        text += lang.Pick("無効", "off");
    else
        text += state.running ? lang.Pick("有効", "on") : lang.Pick("一時停止中", "paused");
    text += '\n';
    if (state.running) {
        char line[64];
        std::snprintf(line, sizeof line, lang.Pick("接続数: %u", "Connections: %u"), state.connections);
        text += line;
    } else {
        text += lang.Pick("監視停止中 — ルールは適用されていません",
                          "Monitoring stopped — rules are not enforced");
    }
    char blocked[48];
    std::snprintf(blocked, sizeof blocked, "\nBLOCKED: %u", state.blocked);
    text += blocked;
    return text;
}

}  // namespace varnel
