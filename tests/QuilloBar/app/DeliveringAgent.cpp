// The tray application's delegate as a process of its own that delivers once,
// as "Sync now…" does: the build tree's companion tool, the secrets of the
// session's keyring, and "Deliver" answered to the question. Prints every
// status line as it comes and ends with the run. The end-to-end tests kill it
// wherever a reader's agent may die; scripts/demo.sh --auto runs it.
#include "QuilloBar/app/AppDelegate.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    quillo::AppDelegate delegate(quillo::AppDelegate::Setup{QUILLO_BUILD_ROOT, {}, {}});
    delegate.desktop.confirmDelivery = [](const QString& /*text*/, const QString& /*details*/) {
        return true;
    };
    QObject::connect(
        &delegate, &quillo::AppDelegate::statusChanged, [&delegate](const QString& status) {
            std::printf("%s\n", status.toUtf8().constData());
            std::fflush(stdout);
            if (!delegate.running()) {
                QMetaObject::invokeMethod(qApp, &QApplication::quit, Qt::QueuedConnection);
            }
        });
    // The secrets come from the agent's own silent read; the delegate's launch
    // check is left out, so the delivery makes the tool's first request.
    quillo::Keyring& keyring = delegate.keyring();
    QObject::disconnect(&keyring, &quillo::Keyring::readFinished, &delegate, nullptr);
    QObject::connect(&keyring, &quillo::Keyring::readFinished, [&delegate] {
        delegate.syncNow();
        if (!delegate.running()) {
            QApplication::exit(1);
        }
    });
    keyring.readSilently();
    return QApplication::exec();
}
