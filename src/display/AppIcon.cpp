#include "display/AppIcon.h"

#include <QtGlobal>

// The icons are a resource of a static library: nothing links them in unless it is named.
static void InitIconResource() {
    Q_INIT_RESOURCE(varnel);
}

namespace varnel {

QIcon AppIcon() {
    InitIconResource();
    // Files are only named here; each size is read when first drawn.
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QString(":/icons/varnel-%1.png").arg(size), QSize(size, size));
    return icon;
}

}  // namespace varnel
