#include "app/gui/ResumeWatcher.h"

namespace varnel {

ResumeWatcher::ResumeWatcher(QDBusConnection bus, QObject* parent) : QObject(parent) {
    listening_ = bus.isConnected() && bus.connect(kService, kPath, kInterface, "PrepareForSleep", this,
                                                  SLOT(OnPrepareForSleep(bool)));
}

void ResumeWatcher::OnPrepareForSleep(bool start) {
    if (!start) emit resumed();
}

}  // namespace varnel
