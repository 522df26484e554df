#include "monitor/Resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initMonitorImages() {
    Q_INIT_RESOURCE(monitor_images);
}

namespace monitor {

void InitResources() {
    initMonitorImages();
}

} // namespace monitor
