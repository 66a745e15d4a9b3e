// Tests that reach the Secret Service on the session bus run only inside the
// private session that scripts/test.sh makes, never against a reader's keyring.
#pragma once

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace quillo::testing {

// Why this process is not in that session, or nothing when it is: the
// session's marker names a folder of this user's that only they can enter,
// and the home, the XDG folders and the bus socket all lie inside it.
std::optional<std::string> outsidePrivateSession();

class KeyringTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto reason = outsidePrivateSession()) {
            GTEST_SKIP() << "Skipped: this test uses the Secret Service and runs only inside "
                            "scripts/test.sh's private session ("
                         << *reason << ")";
        }
    }
};

} // namespace quillo::testing
