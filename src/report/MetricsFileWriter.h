#pragma once

#include <chrono>
#include <string>

namespace varnel {

// The metrics file of `--headless`: the whole text written every kIntervalSeconds (and when asked,
// at a reload and at the end) through AtomicFileWriter, so node_exporter's textfile collector
// never reads half a file, even when the writer is killed in the middle. A file made new is 0644:
// node_exporter reads it as another user, whatever the service's umask.
//
// A write that fails is reported once (Write returns the line to tell) and again only after one
// has worked in between. The tick's thread only.
class MetricsFileWriter {
  public:
    static constexpr int kIntervalSeconds = 10;
    using Clock = std::chrono::steady_clock;

    explicit MetricsFileWriter(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }
    // Whether a write is due at `now` (the first one is due at once).
    bool Due(Clock::time_point now) const { return !written_ || now - last_ >= std::chrono::seconds(kIntervalSeconds); }
    // Writes `text` now. Returns "metrics file PATH not written: REASON" the first time a write
    // fails, else the empty text.
    std::string Write(const std::string& text, Clock::time_point now);

  private:
    std::string path_;
    bool written_ = false;
    Clock::time_point last_{};
    bool failureTold_ = false;
};

}  // namespace varnel
