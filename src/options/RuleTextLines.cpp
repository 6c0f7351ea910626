#include "options/RuleTextLines.h"

#include <QHash>
#include <QStringList>
#include <algorithm>

namespace varnel {

RuleTextLines::RuleTextLines(const std::string& bytes) {
    size_t start = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\n' && bytes[i] != '\r') continue;
        const size_t breakLength = bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n' ? 2 : 1;
        lines_.push_back({bytes.substr(start, i - start), bytes.substr(i, breakLength), {}});
        if (breakLength == 2) newBreak_ = "\r\n";
        i += breakLength - 1;
        start = i + 1;
    }
    lines_.push_back({bytes.substr(start), {}, {}});
    for (Line& line : lines_) line.text = QString::fromUtf8(line.bytes.data(), qsizetype(line.bytes.size()));
}

QString RuleTextLines::Text() const {
    QString text;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (i > 0) text += QLatin1Char('\n');
        text += lines_[i].text;
    }
    return text;
}

void RuleTextLines::AdoptShown(const QString& shown) {
    const QStringList texts = shown.split(QLatin1Char('\n'));
    if (size_t(texts.size()) != lines_.size()) return;
    for (size_t i = 0; i < lines_.size(); ++i) lines_[i].text = texts[qsizetype(i)];
}

std::string RuleTextLines::Bytes(const QString& edited) const {
    const QStringList texts = edited.split(QLatin1Char('\n'));
    const size_t n = size_t(texts.size()), m = lines_.size();
    // match[k]: the old line edited line k keeps, or m for none.
    std::vector<size_t> match(n, m);
    size_t head = 0;
    while (head < n && head < m && texts[qsizetype(head)] == lines_[head].text) match[head] = head, ++head;
    size_t tail = 0;
    while (tail < n - head && tail < m - head && texts[qsizetype(n - 1 - tail)] == lines_[m - 1 - tail].text) {
        match[n - 1 - tail] = m - 1 - tail;
        ++tail;
    }
    QHash<QString, std::vector<size_t>> where;
    for (size_t j = head; j < m - tail; ++j) where[lines_[j].text].push_back(j);
    size_t next = head;
    for (size_t k = head; k < n - tail; ++k) {
        auto found = where.constFind(texts[qsizetype(k)]);
        if (found == where.constEnd()) continue;
        auto it = std::lower_bound(found->begin(), found->end(), next);
        if (it == found->end()) continue;
        match[k] = *it;
        next = *it + 1;
    }

    std::string out;
    for (size_t k = 0; k < n; ++k) {
        const Line* old = match[k] < m ? &lines_[match[k]] : nullptr;
        out += old ? old->bytes : texts[qsizetype(k)].toStdString();
        if (k + 1 < n) out += old && !old->brk.empty() ? old->brk : newBreak_;
    }
    return out;
}

}  // namespace varnel
