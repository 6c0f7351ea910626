#pragma once

#include <string>
#include <string_view>

namespace varnel {

// The language of the user interface: the two-letter code "JP" or "EN", fixed once at start.
// Wherever the program has two texts for one thing, the Japanese one is used when the code is
// exactly "JP" and the English one otherwise.
class UiLanguage {
public:
    UiLanguage() = default;
    explicit UiLanguage(std::string_view code) : code_(code) {}

    static UiLanguage English() { return UiLanguage("EN"); }
    static UiLanguage Japanese() { return UiLanguage("JP"); }

    // "JP" when the first of LC_ALL, LC_MESSAGES, LANG that is set (non-empty) begins with "ja",
    // else "EN". `getenv` is injectable for tests.
    static UiLanguage FromEnvironment(const char* (*getenv)(const char*) = nullptr);
    // For --lang: "JP" or "EN" (any case); false for anything else.
    static bool FromOption(std::string_view value, UiLanguage& out);

    const std::string& code() const { return code_; }
    bool IsJapanese() const { return code_ == "JP"; }
    // The text of the language in force.
    const char* Pick(const char* japanese, const char* english) const { return IsJapanese() ? japanese : english; }

private:
    std::string code_ = "EN";
};

}  // namespace varnel
