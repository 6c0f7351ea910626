#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/ResetHelperLauncher.h"

namespace varnel {

// A reset helper as a test scripts it: starting until `readyAfterPolls` polls have passed, then
// answering from `answers` in order; `end` (or running out of answers) ends it with `endReason`.
struct FakeResetHelper {
    int readyAfterPolls = 0;
    int polls = 0;
    bool end = false;
    std::string endReason = "the reset helper ended (exit status 1)";
    std::deque<std::string> answers;
    std::vector<std::string> requests;
    bool destroyed = false;  // its channel was closed
};

class FakeResetHelperChannel : public ResetHelperChannel {
  public:
    explicit FakeResetHelperChannel(FakeResetHelper& h) : h_(h) {}
    ~FakeResetHelperChannel() override { h_.destroyed = true; }
    State Poll() override {
        if (h_.end) return State::kEnded;
        return ++h_.polls > h_.readyAfterPolls ? State::kReady : State::kStarting;
    }
    std::string EndReason() const override { return h_.endReason; }
    std::optional<std::string> Exchange(std::string_view request, int) override {
        h_.requests.emplace_back(request);
        if (h_.end || h_.answers.empty()) {
            h_.end = true;
            return std::nullopt;
        }
        std::string a = h_.answers.front();
        h_.answers.pop_front();
        return a;
    }

  private:
    FakeResetHelper& h_;
};

// Counts launches; fails them with `refuse` when set, else hands out a channel to `helper`.
class FakeResetHelperLauncher : public ResetHelperLauncher {
  public:
    int launches = 0;
    std::string refuse;
    FakeResetHelper helper;

    std::unique_ptr<ResetHelperChannel> Launch(std::string& why) override {
        ++launches;
        if (!refuse.empty()) {
            why = refuse;
            return nullptr;
        }
        helper.destroyed = false;
        return std::make_unique<FakeResetHelperChannel>(helper);
    }
};

}  // namespace varnel
