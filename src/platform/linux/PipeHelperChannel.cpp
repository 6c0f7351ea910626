#include "platform/linux/PipeHelperChannel.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/ResetRequestLine.h"

namespace varnel {

namespace {

// No answer line is longer; more without a newline is not the helper talking.
constexpr size_t kMaxLine = 512;

// Writes to a pipe whose reader may be gone without the SIGPIPE that would end this whole
// program: the signal is held back for this thread during the write, and one the write raised is
// taken before the mask is restored, so only EPIPE tells.
bool WriteAll(int fd, std::string_view text) {
    sigset_t pipeOnly, before;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &before);
    bool ok = true;
    while (!text.empty()) {
        const ssize_t n = write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
    if (!ok && errno == EPIPE && !sigismember(&before, SIGPIPE)) {
        const timespec now{0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &now) == SIGPIPE) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return ok;
}

}  // namespace

PipeHelperChannel::PipeHelperChannel(pid_t pid, int toHelper, int fromHelper, std::string launcherName)
    : pid_(pid), toHelper_(toHelper), fromHelper_(fromHelper), launcherName_(std::move(launcherName)) {}

PipeHelperChannel::~PipeHelperChannel() {
    if (toHelper_ >= 0) close(toHelper_);
    if (fromHelper_ >= 0) close(fromHelper_);
    if (reaped_) return;
    // A ready helper ends at once on end of input. The launcher may still be showing its prompt:
    // it still runs as us then and takes SIGTERM; once it has become the helper the signal is
    // refused, and the closed input ends it.
    if (!Reap(100)) {
        kill(pid_, SIGTERM);
        Reap(300);
    }
}

ResetHelperChannel::State PipeHelperChannel::Poll() {
    if (state_ == State::kEnded) return state_;
    const bool open = ReadAvailable();
    // Nothing is asked between requests, and the greeting is one short line.
    if (buffer_.size() > kMaxLine && (state_ == State::kReady || buffer_.find('\n') == std::string::npos)) {
        End("the reset helper wrote what it was not asked for");
        return state_;
    }
    if (state_ == State::kStarting) {
        if (std::optional<std::string> line = TakeLine()) {
            if (*line == ResetRequestLine::kReady) {
                state_ = State::kReady;
            } else {
                End("the reset helper did not start as expected");
                return state_;
            }
        }
    }
    if (!open || Reap(0)) {
        Reap(200);
        End(ExitText());
    }
    return state_;
}

std::optional<std::string> PipeHelperChannel::Exchange(std::string_view request, int timeoutMs) {
    if (Poll() != State::kReady) return std::nullopt;
    // Nothing the helper wrote unasked may pass for the answer to this request.
    buffer_.clear();
    if (!WriteAll(toHelper_, std::string(request) + "\n")) {
        Reap(200);
        End(ExitText());
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (std::optional<std::string> line = TakeLine()) return line;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            End("the reset helper did not answer within " + std::to_string(timeoutMs / 1000) + " s");
            return std::nullopt;
        }
        pollfd p{fromHelper_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            End("the reset helper's pipe failed");
            return std::nullopt;
        }
        if (ready > 0 && !ReadAvailable()) {
            if (std::optional<std::string> line = TakeLine()) return line;
            Reap(200);
            End(ExitText());
            return std::nullopt;
        }
        if (buffer_.size() > kMaxLine) {
            End("the reset helper gave an answer too long to be one");
            return std::nullopt;
        }
    }
}

bool PipeHelperChannel::ReadAvailable() {
    char chunk[256];
    for (;;) {
        pollfd p{fromHelper_, POLLIN, 0};
        const int ready = ::poll(&p, 1, 0);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return ready == 0;
        const ssize_t n = read(fromHelper_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buffer_.append(chunk, static_cast<size_t>(n));
        if (buffer_.size() > 4 * kMaxLine) return true;  // the caller sees the runaway line
    }
}

std::optional<std::string> PipeHelperChannel::TakeLine() {
    const size_t newline = buffer_.find('\n');
    if (newline == std::string::npos) return std::nullopt;
    std::string line = buffer_.substr(0, newline);
    buffer_.erase(0, newline + 1);
    return line;
}

bool PipeHelperChannel::Reap(int waitMs) {
    if (reaped_) return true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const pid_t done = waitpid(pid_, &status_, WNOHANG);
        if (done == pid_ || (done < 0 && errno == ECHILD)) {
            reaped_ = true;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void PipeHelperChannel::End(std::string reason) {
    if (state_ == State::kEnded) return;
    state_ = State::kEnded;
    endReason_ = std::move(reason);
    // Our end of its input goes now, so that a helper still running ends too.
    if (toHelper_ >= 0) close(toHelper_);
    toHelper_ = -1;
}

std::string PipeHelperChannel::ExitText() const {
    if (!reaped_) return "the reset helper stopped answering";
    if (WIFSIGNALED(status_))
        return "the reset helper ended by signal " + std::to_string(WTERMSIG(status_));
    const int code = WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    if (state_ == State::kStarting) {
        if (code == 126) return "the administrator's password was not given (" + launcherName_ + " cancelled)";
        if (code == 127)
            return "not authorized (" + launcherName_ +
                   " could not get the authorization: wrong password, no authentication agent, or polkit not"
                   " running)";
        return "the reset helper ended before it was ready (exit status " + std::to_string(code) + ")";
    }
    return "the reset helper ended (exit status " + std::to_string(code) + ")";
}

}  // namespace varnel
