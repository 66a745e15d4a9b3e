#include "QuilloBar/HeadlessModes.h"
#include "QuilloBar/StandardInput.h"

namespace quillo {

QByteArray readAllStandardInput() {
    return QByteArray::fromStdString(readStandardInputToEnd());
}

} // namespace quillo
