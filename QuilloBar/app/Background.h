// Blocking work for the main thread's objects: run on Qt's thread pool, the
// result handed back on the owner's thread by value.
#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QtConcurrent/QtConcurrentRun>
#include <type_traits>
#include <utility>

namespace quillo {

// Whatever is still out when `owner` goes is abandoned: the watcher goes with it.
template <typename Work, typename Done> void inBackground(QObject* owner, Work work, Done done) {
    using Result = std::invoke_result_t<Work>;
    auto* watcher = new QFutureWatcher<Result>(owner);
    QObject::connect(watcher, &QFutureWatcher<Result>::finished, owner,
                     [watcher, done = std::move(done)] {
                         done(watcher->result());
                         watcher->deleteLater();
                     });
    watcher->setFuture(QtConcurrent::run(std::move(work)));
}

} // namespace quillo
