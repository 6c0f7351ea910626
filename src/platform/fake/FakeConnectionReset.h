#pragma once

#include <vector>

#include "platform/ConnectionReset.h"

namespace varnel {

// Records every reset asked of it and answers with `answer`.
class FakeConnectionReset : public ConnectionReset {
public:
    ResetResult answer{ResetStatus::kOk, 0};
    std::vector<TcpRow> calls;

    ResetResult SetTcpEntry(const TcpRow& row) override {
        calls.push_back(row);
        return answer;
    }
};

}  // namespace varnel
