#pragma once

#include <cstdint>
#include <string>

#include "platform/ConnectionReset.h"
#include "settings/UiLanguage.h"

namespace varnel {

// Refusals of the right to cut (the reset helper not started: no password given, not authorized,
// no launcher) are the same for every connection, so auto kill sums them up: one line at most
// every kIntervalMs, "NOT BLOCKED: 12 connections not cut: no administrator password was given",
// with what to do when the password prompt is what failed (a desktop without a polkit
// authentication agent cannot show it). Other failures are reported per connection by AutoKill.
//
// Plain data; the kill pass's thread.
class RefusalSummary {
  public:
    static constexpr uint32_t kIntervalMs = 60'000;

    // One connection refused in the pass under way.
    void Count(const ResetResult& result);
    // At the end of a pass: the line to report, or empty when nothing was refused or the last line
    // is less than kIntervalMs old. Starts the next pass's count.
    std::string TakeLine(uint32_t nowMs, const UiLanguage& lang);

    // Why a reset failed, for a person, in the language in force (English: ResetResult::Describe,
    // but the password refusals in plain words; Japanese: every status).
    static std::string ReasonText(const ResetResult& result, const UiLanguage& lang);
    // Whether the reason is the password prompt (then a polkit agent is what helps).
    static bool NeedsAgent(const ResetResult& result);

  private:
    int count_ = 0;
    ResetResult last_;
    bool reported_ = false;
    uint32_t lastMs_ = 0;
};

}  // namespace varnel
