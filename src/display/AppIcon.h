#pragma once

#include <QIcon>

namespace varnel {

// The program's icon in every size it is drawn at (16 to 256 pixels), for the window, the tray
// and the About box, from the program's resources.
QIcon AppIcon();

}  // namespace varnel
