#include "autokill/RefusalSummary.h"

#include <string_view>

namespace varnel {

namespace {

// The helper's own words for the two refusals of the password prompt.
constexpr std::string_view kNoPassword = "the administrator's password was not given";
constexpr std::string_view kNotAuthorized = "not authorized";

bool StartsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

void RefusalSummary::Count(const ResetResult& result) {
    ++count_;
    last_ = result;
}

bool RefusalSummary::NeedsAgent(const ResetResult& result) {
    return result.status == ResetStatus::kRefused &&
           (StartsWith(result.detail, kNoPassword) || StartsWith(result.detail, kNotAuthorized));
}

std::string RefusalSummary::ReasonText(const ResetResult& result, const UiLanguage& lang) {
    if (result.status == ResetStatus::kRefused) {
        // What follows the helper's words (which program was asked) is kept as it is.
        if (StartsWith(result.detail, kNoPassword))
            return lang.Pick("管理者のパスワードが入力されませんでした",
                             "no administrator password was given") +
                   result.detail.substr(kNoPassword.size());
        if (StartsWith(result.detail, kNotAuthorized))
            return lang.Pick("認可されませんでした", "not authorized") +
                   result.detail.substr(kNotAuthorized.size());
        if (lang.IsJapanese())
            return "切断の権限を得られません: " +
                   (result.detail.empty() ? std::string("理由不明") : result.detail);
    }
    if (!lang.IsJapanese()) return result.Describe();
    // The system's own words (an errno text, a helper's message) stay as they come.
    switch (result.status) {
        case ResetStatus::kOk:
            return "切断しました";
        case ResetStatus::kPermissionDenied:
            return "権限がありません: 接続の切断には CAP_NET_ADMIN が必要です (root "
                   "で実行するか権限を与えてください)";
        case ResetStatus::kNotSupported:
            return "このカーネルは接続を切断できません (CONFIG_INET_DIAG_DESTROY が必要です)";
        case ResetStatus::kNoSuchConnection:
            return "その接続はありません";
        case ResetStatus::kPending:
            return "管理者のパスワードを待っています";
        default:
            break;
    }
    const std::string english = result.Describe();
    constexpr std::string_view kFailed = "reset failed: ";
    return "切断に失敗しました: " + (StartsWith(english, kFailed) ? english.substr(kFailed.size()) : english);
}

std::string RefusalSummary::TakeLine(uint32_t nowMs, const UiLanguage& lang) {
    const int count = count_;
    count_ = 0;
    if (count == 0) return {};
    if (reported_ && nowMs - lastMs_ < kIntervalMs) return {};
    reported_ = true;
    lastMs_ = nowMs;
    std::string line = lang.Pick("切断できません: ", "NOT BLOCKED: ") + std::to_string(count);
    if (lang.IsJapanese())
        line += " 件の接続を切断できません: ";
    else
        line += count == 1 ? " connection not cut: " : " connections not cut: ";
    line += ReasonText(last_, lang);
    if (NeedsAgent(last_))
        line += lang.Pick(
            "。パスワードを尋ねるには polkit 認証エージェントが必要です。デスクトップ標準のもの、lxpolkit "
            "または polkit-gnome を起動してください",
            ". A desktop without a polkit authentication agent cannot ask for the password: start one (the "
            "desktop's own, lxpolkit or polkit-gnome)");
    return line;
}

}  // namespace varnel
