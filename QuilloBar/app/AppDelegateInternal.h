#pragma once

// What the delegate's source files share and no one else needs.

#include "QuilloBar/app/AppDelegate.h"
#include "store/InstallTree.h"

#include <QFutureWatcher>
#include <QString>
#include <QtConcurrent/QtConcurrentRun>
#include <filesystem>
#include <optional>
#include <type_traits>
#include <utility>

namespace quillo {

inline QString executableIn(const std::filesystem::path& root) {
    return QString::fromStdString((root / InstallTree::executable).string());
}

// Opens files and addresses, starts programs and asks before a delivery.
AppDelegate::Desktop systemDesktop();

// The result comes back to the main thread by value. Whatever is still out at
// exit is abandoned: the watcher goes with the delegate.
template <typename Work, typename Done> void AppDelegate::inBackground(Work work, Done done) {
    using Result = std::invoke_result_t<Work>;
    auto* watcher = new QFutureWatcher<Result>(this);
    ++tasksInFlight_;
    connect(watcher, &QFutureWatcher<Result>::finished, this,
            [this, watcher, done = std::move(done)] {
                --tasksInFlight_;
                done(watcher->result());
                watcher->deleteLater();
                restartWhenIdle();
            });
    watcher->setFuture(QtConcurrent::run(std::move(work)));
}

} // namespace quillo
