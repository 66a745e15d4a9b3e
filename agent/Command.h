// Runs an external program to completion and collects everything it wrote.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

namespace quillo {

struct CommandResult {
    // The child's exit status (its signal number when a signal ended it); 1 when
    // it could not be started.
    int exitStatus = 1;
    // Standard output and standard error in arrival order, decoded as UTF-8, at
    // most the first 8 MiB of them. A line naming the program instead when the
    // bytes are not UTF-8, or when a signal ended it without a word. The start
    // error's description when the child could not be started.
    QString output;
    // The deadline came before the child finished: its process group was killed
    // and `output` holds what arrived until then.
    bool deadlinePassed = false;
};

using CommandEnvironment = QMap<QString, QString>;

// Runs the executable at `path` (absolute, not looked up on PATH) with
// `arguments`. With `environment` the child gets only the harmless part of this
// process's environment (PATH, HOME, XDG_*, LANG, LC_*, CUPS_SERVER, the proxy
// variables, CURL_CA_BUNDLE) with those entries merged over it; without, it
// inherits everything. Reads the shared output pipe to end of file before
// waiting for the child.
//
// With a deadline the child runs in a process group of its own, which is killed
// when the deadline passes; reading stops then even when a grandchild still
// holds the pipe open.
//
// With `standardInput` (at most a pipe's capacity, 64 KiB) the child reads
// those bytes and then end of file; without, it inherits standard input.
//
// Blocks the calling thread; safe on any thread.
CommandResult command(const QString& path, const QStringList& arguments,
                      const std::optional<CommandEnvironment>& environment = std::nullopt,
                      std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt,
                      const std::optional<QByteArray>& standardInput = std::nullopt);

} // namespace quillo
