// The delegate's tests need a running application object and its event loop,
// and a keyring: a private bus and keyring with home and XDG folders of their
// own, set up before Qt or GLib look at the environment, so the reader's own
// keyring, settings and agent are never touched, however the tests are run.
#include "tests/store/PrivateSession.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {
quillo::testing::PrivateSession* session = nullptr;
} // namespace

namespace quillo::testing {
PrivateSession& applicationSession() {
    return *session;
}
} // namespace quillo::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    quillo::testing::PrivateSession ownSession(true);
    session = &ownSession;
    if (!ownSession.ready()) {
        std::fputs("Could not start a private D-Bus session with a keyring.\n", stderr);
        return 1;
    }
    const QProcessEnvironment environment = ownSession.environment();
    for (const QString& name : environment.keys()) {
        qputenv(name.toLocal8Bit().constData(), environment.value(name).toLocal8Bit());
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
