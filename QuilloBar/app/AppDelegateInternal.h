#pragma once

// What the delegate's source files share and no one else needs.

#include "QuilloBar/app/AppDelegate.h"
#include "QuilloBar/app/Background.h"
#include "store/InstallTree.h"

#include <QString>
#include <filesystem>
#include <optional>
#include <utility>

namespace quillo {

inline QString executableIn(const std::filesystem::path& root) {
    return QString::fromStdString((root / InstallTree::executable).string());
}

// Opens files and addresses, starts programs and asks before a delivery.
AppDelegate::Desktop systemDesktop();

// A task counts as in flight until its result is handed back.
template <typename Work, typename Done> void AppDelegate::inBackground(Work work, Done done) {
    ++tasksInFlight_;
    quillo::inBackground(this, std::move(work), [this, done = std::move(done)](const auto& result) {
        --tasksInFlight_;
        done(result);
        restartWhenIdle();
    });
}

} // namespace quillo
