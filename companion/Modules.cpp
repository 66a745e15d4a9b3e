#include "companion/Modules.h"

#include "companion/ModuleEntries.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace quillo::companion {
namespace {

// The steps' secrets, which the check's child must not inherit.
constexpr std::array<std::string_view, 2> secretVariables{"QUILLO_PRINT_TOKEN=",
                                                          "QUILLO_EINK_WEBHOOK="};
constexpr std::string_view checkCommand = "--check-issue";

std::filesystem::path executable(std::error_code& error) {
    return std::filesystem::read_symlink("/proc/self/exe", error);
}

// The entry, or nothing when the module or the entry is missing. A module
// stays loaded until the process ends, a moment later.
template <typename Entry> Entry* entry(std::string_view module, const char* name) {
    std::error_code error;
    // libexec/quillo/quillo-print lies two folders below the install root.
    const auto path = executable(error).parent_path().parent_path().parent_path() / module;
    void* handle = error ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    return handle != nullptr ? reinterpret_cast<Entry*>(dlsym(handle, name)) : nullptr;
}

std::string missing(std::string_view module) {
    return "This installation of quillo-print lacks " + std::string(module);
}

std::vector<char*> environmentWithoutSecrets() {
    std::vector<char*> kept;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string_view setting(*variable);
        bool secret = false;
        for (const std::string_view name : secretVariables) {
            secret = secret || setting.starts_with(name);
        }
        if (!secret) {
            kept.push_back(*variable);
        }
    }
    kept.push_back(nullptr);
    return kept;
}

// What the child wrote until it ended, and whether it ended well.
std::optional<std::string> childOutput(int descriptor, pid_t child) {
    std::string output;
    std::array<char, 128> buffer{};
    for (;;) {
        const ssize_t count = ::read(descriptor, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0 || output.size() > 4096) {
            break;
        }
        output.append(buffer.data(), static_cast<std::size_t>(count));
    }
    ::close(descriptor);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? std::optional(output) : std::nullopt;
}

} // namespace

std::variant<IssueCheck::Result, std::string> checkIssue(const std::filesystem::path& pdf) {
    std::error_code error;
    const std::string self = executable(error);
    std::array<int, 2> pipe{-1, -1};
    if (error || ::pipe2(pipe.data(), O_CLOEXEC) != 0) {
        return std::string("Could not start the issue check");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    std::string command(checkCommand);
    std::string path = pdf.string();
    std::string program = self;
    std::array<char*, 4> arguments{program.data(), command.data(), path.data(), nullptr};
    std::vector<char*> environment = environmentWithoutSecrets();
    pid_t child = 0;
    const int spawned =
        posix_spawn(&child, self.c_str(), &actions, nullptr, arguments.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    if (spawned != 0) {
        ::close(pipe[0]);
        return std::string("Could not start the issue check");
    }
    const auto output = childOutput(pipe[0], child);
    IssueCheck::Result result;
    int problem = -1;
    if (!output) {
        // The parser crashed or gave up: the file is not an issue it can open.
        result.problem = IssueCheck::Problem::unreadable;
        return result;
    }
    if (*output == "missing\n") {
        return missing(issueCheckModule);
    }
    if (std::sscanf(output->c_str(), "%d %d %d", &problem, &result.pages, &result.badPage) != 3) {
        return std::string("The issue check gave no result");
    }
    if (problem >= 0) {
        result.problem = static_cast<IssueCheck::Problem>(problem);
    }
    return result;
}

int runIssueCheck(const std::filesystem::path& pdf) {
    auto* check = entry<IssueCheckEntry>(issueCheckModule, issueCheckEntry);
    if (check == nullptr) {
        std::printf("missing\n");
        return 0;
    }
    int pages = 0;
    int badPage = 0;
    const int problem = check(pdf.c_str(), &pages, &badPage);
    std::printf("%d %d %d\n", problem, pages, badPage);
    return 0;
}

PrintQueue::PrintQueue(std::string printer, std::string title)
    : printer_(std::move(printer)), title_(std::move(title)) {}

std::optional<std::string> PrintQueue::run(PrintJobCall& call) {
    auto* step = entry<PrintJobEntry>(printJobModule, printJobEntry);
    if (step == nullptr) {
        return missing(printJobModule);
    }
    call.printer = printer_.c_str();
    call.title = title_.c_str();
    if (step(&call) == 1) {
        return std::nullopt;
    }
    return std::string(call.message);
}

std::optional<std::string> PrintQueue::find() {
    PrintJobCall call{.step = PrintJobStep::findQueue};
    return run(call);
}

std::optional<std::string> PrintQueue::createHeld(int lastPage, int& job) {
    PrintJobCall call{.step = PrintJobStep::createHeld, .lastPage = lastPage};
    auto failure = run(call);
    job = call.job;
    return failure;
}

std::optional<std::string> PrintQueue::send(int job, const std::filesystem::path& pdf) {
    PrintJobCall call{.step = PrintJobStep::sendDocument, .pdf = pdf.c_str(), .job = job};
    return run(call);
}

std::optional<std::string> PrintQueue::release(int job, bool& untouched) {
    PrintJobCall call{.step = PrintJobStep::release, .job = job};
    auto failure = run(call);
    untouched = call.untouched != 0;
    return failure;
}

std::optional<std::string> PrintQueue::ask(int job, JobState& state) {
    PrintJobCall call{.step = PrintJobStep::ask, .job = job};
    auto failure = run(call);
    constexpr int held = 4;
    constexpr int stopped = 6;
    constexpr int completed = 9;
    state = call.jobState == held ? JobState::held
            : call.jobState == completed || (call.jobState > 0 && call.jobState <= stopped)
                ? JobState::taken
                : JobState::gone;
    return failure;
}

std::optional<std::string> PrintQueue::cancelHeld() {
    PrintJobCall call{.step = PrintJobStep::cancelHeld};
    return run(call);
}

} // namespace quillo::companion
