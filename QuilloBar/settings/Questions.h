// The two questions the agent asks before it delivers on the reader's behalf.
#pragma once

#include "kit/DeliveryKit.h"

#include <QString>

class QWidget;

namespace quillo {

// Asks before a delivery starts: true when the reader chose "Deliver".
bool askBeforeDelivering(const QString& text, const QString& informativeText);

// Asks before automatic delivery starts: true when the reader chose "Turn On".
bool confirmTurnOn(QWidget* parent, DeliveryDestination destination);

} // namespace quillo
