#include "platform/PrivilegedReset.h"

#include <utility>

#include "platform/ResetRequestLine.h"

namespace varnel {

PrivilegedReset::PrivilegedReset(ConnectionReset& direct, bool holdsRight, ResetHelperLauncher& launcher,
                                 Clock& clock)
    : direct_(direct),
      launcher_(launcher),
      clock_(clock),
      directMode_(holdsRight),
      state_(holdsRight ? HelperState::kNotNeeded : HelperState::kIdle) {}

PrivilegedReset::~PrivilegedReset() = default;

ResetResult PrivilegedReset::SetTcpEntry(const TcpRow& row) {
    if (directMode_) {
        ResetResult result = direct_.SetTcpEntry(row);
        if (result.status != ResetStatus::kPermissionDenied) return result;
        // The right was never there after all, or was taken away.
        directMode_ = false;
        state_ = HelperState::kIdle;
    }
    if (Poll() == HelperState::kIdle || state_ == HelperState::kFailed) StartHelper(false);
    switch (state_) {
        case HelperState::kStarting: {
            ResetResult pending;
            pending.status = ResetStatus::kPending;
            pending.detail = "waiting for the administrator's password";
            return pending;
        }
        case HelperState::kReady: {
            const std::optional<std::string> answer =
                channel_->Exchange(ResetRequestLine::Request(row), kAnswerTimeoutMs);
            if (answer) return ResetRequestLine::ReadAnswer(*answer);
            Fail(channel_->EndReason());
            return Refusal();
        }
        default:
            return Refusal();
    }
}

PrivilegedReset::HelperState PrivilegedReset::Poll() {
    if (channel_ && (state_ == HelperState::kStarting || state_ == HelperState::kReady)) {
        switch (channel_->Poll()) {
            case ResetHelperChannel::State::kStarting:
                break;
            case ResetHelperChannel::State::kReady:
                state_ = HelperState::kReady;
                break;
            case ResetHelperChannel::State::kEnded:
                Fail(channel_->EndReason());
                break;
        }
    }
    return state_;
}

void PrivilegedReset::StartHelper(bool byHand) {
    if (directMode_) return;
    if (state_ == HelperState::kStarting || state_ == HelperState::kReady) return;
    const uint32_t now = clock_.TickMs();
    if (!byHand && startedOnce_ && now - lastStartMs_ < kRetryMs) return;
    startedOnce_ = true;
    lastStartMs_ = now;
    std::string why;
    channel_ = launcher_.Launch(why);
    if (!channel_) {
        Fail(why.empty() ? std::string("the reset helper could not be started") : why);
        return;
    }
    state_ = HelperState::kStarting;
    Poll();
}

void PrivilegedReset::StopHelper(const std::string& reason) {
    if (state_ != HelperState::kStarting && state_ != HelperState::kReady) return;
    Fail(reason);
}

void PrivilegedReset::Fail(std::string reason) {
    channel_.reset();
    state_ = HelperState::kFailed;
    failure_ = std::move(reason);
}

ResetResult PrivilegedReset::Refusal() const {
    ResetResult r;
    r.status = ResetStatus::kRefused;
    r.detail = failure_.empty() ? std::string("the reset helper is not running") : failure_;
    return r;
}

}  // namespace varnel
