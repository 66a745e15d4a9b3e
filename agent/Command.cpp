#include "agent/Command.h"

#include <QByteArray>
#include <QFileInfo>
#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quillo {
namespace {

// Far beyond any line or listing a caller reads, and within what a process
// may hold: the status line keeps 400 characters of it.
constexpr qsizetype outputLimit = qsizetype{8} << 20;

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept
        : descriptor_(std::exchange(other.descriptor_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.descriptor_, -1));
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    [[nodiscard]] int get() const { return descriptor_; }
    void reset(int descriptor = -1) {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
        descriptor_ = descriptor;
    }

private:
    int descriptor_ = -1;
};

// posix_spawn's file actions and attributes, destroyed on every path.
template <typename Object, int (*initialise)(Object*), int (*destroy)(Object*)> class SpawnObject {
public:
    SpawnObject() { initialise(&object_); }
    ~SpawnObject() { destroy(&object_); }
    SpawnObject(const SpawnObject&) = delete;
    SpawnObject& operator=(const SpawnObject&) = delete;
    SpawnObject(SpawnObject&&) = delete;
    SpawnObject& operator=(SpawnObject&&) = delete;
    Object* get() { return &object_; }

private:
    Object object_{};
};

using SpawnFileActions = SpawnObject<posix_spawn_file_actions_t, ::posix_spawn_file_actions_init,
                                     ::posix_spawn_file_actions_destroy>;
using SpawnAttributes =
    SpawnObject<posix_spawnattr_t, ::posix_spawnattr_init, ::posix_spawnattr_destroy>;

// A null-terminated array of C strings over owned storage.
class CStringArray {
public:
    explicit CStringArray(std::vector<std::string> strings) : strings_(std::move(strings)) {
        pointers_.reserve(strings_.size() + 1);
        for (auto& string : strings_) {
            pointers_.push_back(string.data());
        }
        pointers_.push_back(nullptr);
    }
    char* const* get() { return pointers_.data(); }

private:
    std::vector<std::string> strings_;
    std::vector<char*> pointers_;
};

CommandResult startFailure(int error) {
    return {1, QString::fromStdString(std::generic_category().message(error)), false};
}

// What a child may inherit of this process's environment: where to find
// programs, files and settings, the language, the print server, the proxy and
// the CA bundle. Anything else (a key exported in the shell that started the
// agent, SSLKEYLOGFILE, a preload) stays here; a step's own secret comes only
// through the entries its caller names.
bool inherited(std::string_view name) {
    static constexpr std::array<std::string_view, 13> names{
        "PATH",        "HOME",        "LANG",     "CUPS_SERVER", "CURL_CA_BUNDLE",
        "http_proxy",  "https_proxy", "no_proxy", "all_proxy",   "HTTP_PROXY",
        "HTTPS_PROXY", "NO_PROXY",    "ALL_PROXY"};
    static constexpr std::array<std::string_view, 2> prefixes{"XDG_", "LC_"};
#if defined(__SANITIZE_ADDRESS__)
    // A sanitized build's children report where its tests look for reports.
    if (name == "ASAN_OPTIONS" || name == "UBSAN_OPTIONS" || name == "LSAN_OPTIONS") {
        return true;
    }
#endif
    return std::find(names.begin(), names.end(), name) != names.end() ||
           std::any_of(prefixes.begin(), prefixes.end(), [name](std::string_view prefix) {
               return name.size() > prefix.size() && name.starts_with(prefix);
           });
}

std::vector<std::string> childEnvironment(const CommandEnvironment& extra) {
    std::vector<std::string> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const auto equals = text.find('=');
        if (equals != std::string_view::npos &&
            !extra.contains(QString::fromUtf8(text.substr(0, equals))) &&
            inherited(text.substr(0, equals))) {
            entries.emplace_back(text);
        }
    }
    for (auto it = extra.cbegin(); it != extra.cend(); ++it) {
        entries.push_back(it.key().toStdString() + '=' + it.value().toStdString());
    }
    return entries;
}

// The pipe's descriptors must not land on 0-2: the dup2 onto standard output
// and error would then be a no-op that keeps close-on-exec set.
int moveAboveStandardStreams(int descriptor) {
    if (descriptor > STDERR_FILENO) {
        return descriptor;
    }
    const int moved = ::fcntl(descriptor, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(descriptor);
    return moved;
}

int exitStatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        return WEXITSTATUS(waitStatus);
    }
    if (WIFSIGNALED(waitStatus)) {
        return WTERMSIG(waitStatus);
    }
    return 1;
}

int remainingMilliseconds(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 60'000));
}

// Reads until end of file, or until the deadline; false when the deadline came
// first. Keeps the first `outputLimit` bytes and drains the rest, so a child
// that writes without end neither blocks nor fills memory.
bool readToEnd(int descriptor, QByteArray& bytes, bool& truncated,
               std::optional<std::chrono::steady_clock::time_point> deadline) {
    std::array<char, 65536> buffer{};
    for (;;) {
        if (deadline) {
            pollfd readable{descriptor, POLLIN, 0};
            const int timeout = remainingMilliseconds(*deadline);
            const int ready = ::poll(&readable, 1, timeout);
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready == 0) {
                if (std::chrono::steady_clock::now() >= *deadline) {
                    return false;
                }
                continue;
            }
        }
        const ssize_t count = ::read(descriptor, buffer.data(), buffer.size());
        if (count > 0) {
            const qsizetype kept = std::min<qsizetype>(count, outputLimit - bytes.size());
            bytes.append(buffer.data(), kept);
            truncated = truncated || kept < count;
        } else if (count == 0 || errno != EINTR) {
            return true;
        }
    }
}

enum class Wait { exited, deadlinePassed, statusUnknown };

// A child may close its output and keep running; with a deadline the wait is
// bounded too. A wait that fails for any reason but a signal (the child was
// reaped elsewhere, SIGCHLD is ignored) leaves the status unknown, which must
// never read as success.
Wait waitForExit(pid_t child, int& waitStatus,
                 std::optional<std::chrono::steady_clock::time_point> deadline) {
    if (!deadline) {
        for (;;) {
            if (::waitpid(child, &waitStatus, 0) == child) {
                return Wait::exited;
            }
            if (errno != EINTR) {
                return Wait::statusUnknown;
            }
        }
    }
    auto nap = std::chrono::microseconds(200);
    for (;;) {
        const pid_t reaped = ::waitpid(child, &waitStatus, WNOHANG);
        if (reaped == child) {
            return Wait::exited;
        }
        if (reaped < 0 && errno != EINTR) {
            return Wait::statusUnknown;
        }
        if (std::chrono::steady_clock::now() >= *deadline) {
            return Wait::deadlinePassed;
        }
        std::this_thread::sleep_for(nap);
        nap = std::min<std::chrono::microseconds>(nap * 2, std::chrono::milliseconds(20));
    }
}

// Output that is not UTF-8 becomes a line naming the program rather than an
// empty text, which would leave the reader with a failure and no reason. A cut
// may split the last character: that part is dropped, not taken for an error.
QString decodedUtf8(const QByteArray& bytes, bool truncated, const QString& program) {
    QStringDecoder decoder(QStringDecoder::Utf8, truncated
                                                     ? QStringDecoder::Flag::ConvertInitialBom
                                                     : QStringDecoder::Flag::Stateless |
                                                           QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return program + QStringLiteral(" wrote output that is not UTF-8 text");
    }
    return text;
}

// A child that a signal ended without a word still gets a line.
QString silentEnd(int waitStatus, const QString& program) {
    const int signal = WTERMSIG(waitStatus);
    const char* description = ::sigdescr_np(signal);
    return program + QStringLiteral(" ended on signal %1 (%2)")
                         .arg(signal)
                         .arg(QLatin1StringView(description != nullptr ? description : "unknown"));
}

} // namespace

CommandResult command(const QString& path, const QStringList& arguments,
                      const std::optional<CommandEnvironment>& environment,
                      std::optional<std::chrono::steady_clock::time_point> deadline,
                      const std::optional<QByteArray>& standardInput) {
    const std::string executable = path.toStdString();
    std::vector<std::string> argumentStrings{executable};
    for (const auto& argument : arguments) {
        argumentStrings.push_back(argument.toStdString());
    }
    CStringArray argv(std::move(argumentStrings));
    std::optional<CStringArray> envp;
    if (environment) {
        envp.emplace(childEnvironment(*environment));
    }

    // Close-on-exec from the start, so children that other threads spawn at
    // the same moment never inherit this pipe.
    std::array<int, 2> descriptors{-1, -1};
    if (::pipe2(descriptors.data(), O_CLOEXEC) != 0) {
        return startFailure(errno);
    }
    FileDescriptor readEnd(moveAboveStandardStreams(descriptors[0]));
    FileDescriptor writeEnd(moveAboveStandardStreams(descriptors[1]));
    if (readEnd.get() < 0 || writeEnd.get() < 0) {
        return startFailure(errno);
    }

    // The input is written whole before the child starts, so it must fit the
    // pipe: a request of a few paths does, and nothing then waits on the child.
    FileDescriptor inputEnd;
    if (standardInput) {
        std::array<int, 2> input{-1, -1};
        if (::pipe2(input.data(), O_CLOEXEC) != 0) {
            return startFailure(errno);
        }
        inputEnd.reset(moveAboveStandardStreams(input[0]));
        FileDescriptor inputWriter(moveAboveStandardStreams(input[1]));
        if (inputEnd.get() < 0 || inputWriter.get() < 0) {
            return startFailure(errno);
        }
        if (standardInput->size() > ::fcntl(inputWriter.get(), F_GETPIPE_SZ)) {
            return startFailure(E2BIG);
        }
        if (!standardInput->isEmpty() &&
            ::write(inputWriter.get(), standardInput->constData(),
                    static_cast<std::size_t>(standardInput->size())) != standardInput->size()) {
            return startFailure(errno);
        }
    }

    SpawnFileActions actions;
    if (standardInput) {
        ::posix_spawn_file_actions_adddup2(actions.get(), inputEnd.get(), STDIN_FILENO);
    }
    ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDERR_FILENO);

    // The child starts with default signal handling and nothing blocked,
    // whatever this process has set up for itself.
    SpawnAttributes attributes;
    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigset_t defaultSignals;
    sigemptyset(&defaultSignals);
    sigaddset(&defaultSignals, SIGPIPE);
    ::posix_spawnattr_setsigmask(attributes.get(), &noSignals);
    ::posix_spawnattr_setsigdefault(attributes.get(), &defaultSignals);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (deadline) {
        flags |= POSIX_SPAWN_SETPGROUP;
        ::posix_spawnattr_setpgroup(attributes.get(), 0);
    }
    ::posix_spawnattr_setflags(attributes.get(), flags);

    pid_t child = -1;
    const int spawnError =
        ::posix_spawn(&child, executable.c_str(), actions.get(), attributes.get(), argv.get(),
                      envp ? envp->get() : environ);
    if (spawnError != 0) {
        return startFailure(spawnError);
    }
    // Only the child may hold the write end, or end of file never comes.
    writeEnd.reset();
    inputEnd.reset();

    QByteArray bytes;
    bool truncated = false;
    const bool readInTime = readToEnd(readEnd.get(), bytes, truncated, deadline);
    readEnd.reset();
    int waitStatus = 0;
    Wait wait = readInTime ? waitForExit(child, waitStatus, deadline) : Wait::deadlinePassed;
    const bool deadlinePassed = wait == Wait::deadlinePassed;
    if (deadlinePassed) {
        // The group outlives its leader until the leader is reaped, so this
        // reaches grandchildren too.
        ::kill(-child, SIGKILL);
        wait = waitForExit(child, waitStatus, std::nullopt);
    }
    const int exitStatus = wait == Wait::exited ? exitStatusOf(waitStatus) : 1;
    const QString program = QFileInfo(path).fileName();
    QString output = decodedUtf8(bytes, truncated, program);
    if (wait == Wait::exited && !deadlinePassed && WIFSIGNALED(waitStatus) &&
        output.trimmed().isEmpty()) {
        output = silentEnd(waitStatus, program);
    }
    return {exitStatus, output, deadlinePassed};
}

} // namespace quillo
