#include "resources/resource_bundle.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must stand outside any namespace; calling it also keeps the
// linker from dropping the bundle out of the static library.
void InitResourceBundle() {
    Q_INIT_RESOURCE(qss);
    Q_INIT_RESOURCE(image);
    Q_INIT_RESOURCE(help);
    // The shader bundle belongs to the render library, which registers it too.
    Q_INIT_RESOURCE(hlsl);
}
