#include "QuilloBar/AppDelegate.h"

namespace quillo {

AppDelegate::AppDelegate(QObject* parent) : QObject(parent) {}

} // namespace quillo
