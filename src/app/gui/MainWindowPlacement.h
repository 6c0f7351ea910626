#pragma once

#include <functional>

#include "app/shell/SnapToEdges.h"
#include "app/shell/WindowFrame.h"
#include "app/shell/WindowPlacementText.h"

class QWidget;

namespace varnel {

// Where the main window stands: its outer rectangle (frame included) at start and in the saved
// placement, and the sticky screen edges while it is dragged.
//
// The window system tells the frame only once the window is on screen, so the start size and a
// saved placement are applied with the frame known then and applied again, once, when the frame
// first becomes known (FrameMayBeKnown, from the window's show and move events, and
// kFrameWaitMs after the first show).
//
// The window is borrowed and owns this; GUI thread only.
class MainWindowPlacement {
  public:
    static constexpr int kFrameWaitMs = 1000;

    explicit MainWindowPlacement(QWidget& window);

    // "WindowStretch": sticky edges on or off.
    void SetStretch(bool on) { stretch_ = on; }
    bool stretch() const { return stretch_; }

    // The frame around the client area; replaceable so that tests have a frame where the
    // platform draws none.
    void SetFrame(std::function<WindowFrame()> frame) { frame_ = std::move(frame); }
    WindowFrame Frame() const;

    // Sizes the window so that its outer size is width x height; the position is left alone.
    void SetOuterSize(int width, int height);
    // Moves and sizes the window to the placement's restored (outer) rectangle; an empty
    // rectangle or one on no screen is ignored. False when it was ignored.
    bool Apply(const WindowPlacementText& placement);
    // The placement as it stands: the outer rectangle of the normal geometry, maximised and
    // minimised state.
    WindowPlacementText Current() const;

    // The window was shown, moved or changed state: a frame that has become known since the
    // window was placed places it again (a maximised or minimised one when it is back to normal).
    // After the first show, kFrameWaitMs later, the start placement is final.
    void FrameMayBeKnown();
    void Shown();

    // Sticky edges for the outer rectangle `rect` (no-op while "WindowStretch" is 0).
    void SnapRect(ScreenRect& rect, ScreenPoint cursor, const ScreenRect& workArea);
    // The window was moved: sticky edges for its outer rectangle against its screen.
    void Moved();

  private:
    void Place();

    QWidget& window_;
    std::function<WindowFrame()> frame_;
    bool stretch_ = true;
    SnapToEdgesState snap_;
    bool snapping_ = false;

    // The outer rectangle asked for; its position counts only when it came from a placement.
    ScreenRect outer_;
    bool outerPosition_ = false;
    // The frame the window was last placed with, and whether the start placement is final.
    WindowFrame used_;
    bool settled_ = false;
    bool waiting_ = false;
    // The frame became known while the window was maximised or minimised.
    bool deferred_ = false;
};

}  // namespace varnel
