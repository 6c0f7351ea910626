#include "autokill/RuleFileWriter.h"

#include "autokill/RuleFile.h"
#include "platform/AtomicFileWriter.h"

namespace varnel {

bool RuleFileWriter::Load(const std::string& path, std::string& text, std::string* error) {
    text.clear();
    RuleFile file(path);
    if (file.status() == RuleFile::Status::kMissing) return true;
    const auto fail = [error](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (file.status() != RuleFile::Status::kOpen) return fail(file.error());
    std::string bytes;
    char block[64 * 1024];
    while (file.stream().read(block, sizeof block) || file.stream().gcount() > 0) {
        bytes.append(block, size_t(file.stream().gcount()));
        if (bytes.size() > kMaxLoadBytes)
            return fail(path + " is larger than " + std::to_string(kMaxLoadBytes >> 20) + " MiB");
    }
    if (!file.error().empty()) return fail(file.error());
    text = std::move(bytes);
    return true;
}

bool RuleFileWriter::Save(const std::string& path, std::string_view text, std::string* error) {
    const std::string why = text.empty() ? AtomicFileWriter::Remove(path) : AtomicFileWriter::Write(path, text);
    if (why.empty()) return true;
    if (error) *error = (text.empty() ? "cannot delete " : "cannot write ") + path + ": " + why;
    return false;
}

}  // namespace varnel
