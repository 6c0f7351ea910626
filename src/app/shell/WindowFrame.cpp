#include "app/shell/WindowFrame.h"

#include <algorithm>

namespace varnel {

ScreenRect WindowFrame::Outer(const ScreenRect& client) const {
    return {client.left - left, client.top - top, client.right + right, client.bottom + bottom};
}

ScreenRect WindowFrame::Client(const ScreenRect& outer) const {
    ScreenRect client{outer.left + left, outer.top + top, outer.right - right, outer.bottom - bottom};
    client.right = std::max(client.right, client.left);
    client.bottom = std::max(client.bottom, client.top);
    return client;
}

}  // namespace varnel
