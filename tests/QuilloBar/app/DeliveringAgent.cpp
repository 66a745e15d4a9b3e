// The tray application's delegate as a process of its own that delivers once,
// as "Sync now…" does: the build tree's companion tool, the secrets of the
// session's keyring, and "Deliver" answered to the question. Prints every
// status line as it comes and ends with the run. The end-to-end tests kill it
// wherever a reader's agent may die; scripts/demo.sh --auto runs it.
#include "QuilloBar/app/AppDelegate.h"
#include "store/Preferences.h"
#include "store/Vault.h"

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
    delegate.keyring().setDeliveryKey(
        quillo::Vault::lookup(quillo::SecretAccount::deliveryKey, /*interactive=*/false).value);
    delegate.keyring().setWebhook(
        quillo::Vault::lookup(quillo::SecretAccount::einkWebhook, /*interactive=*/false).value);
    delegate.syncNow();
    return delegate.running() ? QApplication::exec() : 1;
}
