// Entry of the configure module, loaded by the executable for --configure-stdin.
#include "QuilloBar/configure/ConfigureMode.h"

#include <QtGlobal>

extern "C" Q_DECL_EXPORT int quilloRunConfigureMode() {
    return quillo::runConfigureMode();
}
