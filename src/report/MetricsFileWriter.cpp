#include "report/MetricsFileWriter.h"

#include "platform/AtomicFileWriter.h"
#include "text/FixedText.h"

namespace varnel {

std::string MetricsFileWriter::Write(const std::string& text, Clock::time_point now) {
    written_ = true;
    last_ = now;
    const std::string why = AtomicFileWriter::Write(path_, text, 0644);
    if (why.empty()) {
        failureTold_ = false;
        return {};
    }
    if (failureTold_) return {};
    failureTold_ = true;
    return PrintableLine("metrics file " + path_ + " not written: " + why);
}

}  // namespace varnel
