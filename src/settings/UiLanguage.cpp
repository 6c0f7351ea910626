#include "settings/UiLanguage.h"

#include <cstdlib>
#include <cstring>

namespace varnel {

namespace {
const char* SystemGetenv(const char* name) { return std::getenv(name); }
}  // namespace

UiLanguage UiLanguage::FromEnvironment(const char* (*getenv)(const char*)) {
    if (getenv == nullptr) getenv = SystemGetenv;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = getenv(name);
        if (value == nullptr || *value == '\0') continue;
        return std::strncmp(value, "ja", 2) == 0 ? Japanese() : English();
    }
    return English();
}

bool UiLanguage::FromOption(std::string_view value, UiLanguage& out) {
    auto upper = [](std::string_view v) {
        std::string s(v);
        for (char& c : s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        return s;
    };
    std::string code = upper(value);
    if (code != "JP" && code != "EN") return false;
    out = UiLanguage(code);
    return true;
}

}  // namespace varnel
