// Entry of the application module, loaded by the executable only in
// application mode.
#include "QuilloBar/AppDelegate.h"

#include <QApplication>

extern "C" Q_DECL_EXPORT int quilloRunApplication(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillo"));
    QApplication::setQuitOnLastWindowClosed(false);
    quillo::AppDelegate delegate;
    QApplication::exec();
    return 0;
}
