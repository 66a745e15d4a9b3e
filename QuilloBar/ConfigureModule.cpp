// Entry of the configure module, loaded by the executable for --configure-stdin.
#include "QuilloBar/HeadlessModes.h"

#include <QtGlobal>

extern "C" Q_DECL_EXPORT int quilloRunConfigureMode() {
    return quillo::runConfigureMode();
}
