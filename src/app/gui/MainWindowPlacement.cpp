#include "app/gui/MainWindowPlacement.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace varnel {

namespace {

ScreenRect FromQt(const QRect& r) {
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

}  // namespace

MainWindowPlacement::MainWindowPlacement(QWidget& window) : window_(window) {
    frame_ = [this]() -> WindowFrame {
        const QWindow* handle = window_.windowHandle();
        if (handle == nullptr) return {};
        const QMargins m = handle->frameMargins();
        return {m.left(), m.top(), m.right(), m.bottom()};
    };
}

WindowFrame MainWindowPlacement::Frame() const {
    return frame_ ? frame_() : WindowFrame{};
}

void MainWindowPlacement::SetOuterSize(int width, int height) {
    const QPoint at = window_.pos();
    outer_ = {at.x(), at.y(), at.x() + width, at.y() + height};
    outerPosition_ = false;
    Place();
}

bool MainWindowPlacement::Apply(const WindowPlacementText& placement) {
    const ScreenRect& r = placement.restored;
    if (r.width() <= 0 || r.height() <= 0) return false;
    const QRect rect(r.left, r.top, r.width(), r.height());
    bool onScreen = false;
    for (QScreen* screen : QGuiApplication::screens())
        onScreen = onScreen || screen->availableGeometry().intersects(rect);
    if (!onScreen) return false;
    outer_ = r;
    outerPosition_ = true;
    Place();
    return true;
}

void MainWindowPlacement::Place() {
    used_ = Frame();
    const ScreenRect client = used_.Client(outer_);
    // A window's position is its frame's: the window system puts the frame there.
    if (outerPosition_) window_.move(outer_.left, outer_.top);
    window_.resize(client.width(), client.height());
}

WindowPlacementText MainWindowPlacement::Current() const {
    QRect normal = window_.normalGeometry();
    if (!normal.isValid()) normal = window_.geometry();
    WindowPlacementText p;
    if (window_.isMaximized()) {
        p.flags |= WindowPlacementText::kRestoreToMaximized;
        p.showCommand = WindowPlacementText::kShowMaximized;
    } else if (window_.isMinimized()) {
        p.showCommand = WindowPlacementText::kShowMinimized;
    }
    // A normal geometry still waiting to be placed again was made with the frame known then.
    p.restored = (deferred_ ? used_ : Frame()).Outer(FromQt(normal));
    return p;
}

void MainWindowPlacement::FrameMayBeKnown() {
    if (settled_ || Frame() == used_) return;
    // A maximised or minimised window is placed again once it is back to its normal state.
    deferred_ = window_.isMaximized() || window_.isMinimized();
    if (deferred_) return;
    settled_ = true;
    Place();
}

void MainWindowPlacement::Shown() {
    FrameMayBeKnown();
    if (settled_ || waiting_) return;
    waiting_ = true;
    QTimer::singleShot(kFrameWaitMs, &window_, [this] {
        FrameMayBeKnown();
        settled_ = settled_ || !deferred_;
    });
}

void MainWindowPlacement::SnapRect(ScreenRect& rect, ScreenPoint cursor, const ScreenRect& workArea) {
    if (stretch_) SnapToEdges(snap_, rect, cursor, workArea);
}

void MainWindowPlacement::Moved() {
    // The window system moves the window first and tells afterwards; the snap moves it again where
    // the window system lets the program place its own window.
    if (!stretch_ || snapping_ || !window_.isVisible() || window_.isMaximized() || window_.isMinimized())
        return;
    QScreen* screen = window_.screen();
    if (screen == nullptr) return;
    ScreenRect rect = FromQt(window_.frameGeometry());
    const ScreenRect before = rect;
    const QPoint cursor = QCursor::pos();
    SnapRect(rect, {cursor.x(), cursor.y()}, FromQt(screen->availableGeometry()));
    if (rect == before) return;
    snapping_ = true;
    window_.move(rect.left, rect.top);
    snapping_ = false;
}

}  // namespace varnel
