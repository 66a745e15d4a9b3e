// quillo-print: the network side of Quillo's desktop agent. Exit status 0 on
// success, 1 on a failure with one line for the reader on standard output, 2
// on a usage error with the usage text on standard error.
#include "companion/Download.h"
#include "companion/Modules.h"
#include "companion/Print.h"
#include "companion/Service.h"
#include "companion/Sync.h"
#include "companion/Version.h"
#include "kit/NoCoreDumps.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <exception>
#include <fcntl.h>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

using namespace quillo::companion;

constexpr std::string_view usage =
    "usage: quillo-print download --max-pages N\n"
    "       quillo-print print --printer P --max-pages N --expected-issue I --expected-sha256 H\n"
    "       quillo-print sync --image F --issue I --width W --height H\n"
    "download and print read QUILLO_URL and QUILLO_PRINT_TOKEN; sync reads "
    "QUILLO_EINK_WEBHOOK.\n";

constexpr int usageStatus = 2;

// A reader that went away (the agent quit and closed the pipe) must not stop
// a print or an upload half way: failed writes are ignored.
void writeOut(int descriptor, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(descriptor, text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

int usageError(std::string_view problem) {
    writeOut(STDERR_FILENO, "quillo-print: " + std::string(problem) + "\n" + std::string(usage));
    return usageStatus;
}

// Standard streams that are closed would be handed out again by open(), and a
// line for the reader could end up in a cache file.
void keepStandardStreamsOpen() {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) < 0 && errno == EBADF) {
            ::open("/dev/null", O_RDWR);
        }
    }
}

std::optional<int> number(const std::string& text, int lowest, int highest) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < lowest ||
        value > highest) {
        return std::nullopt;
    }
    return value;
}

// "--flag value" pairs, each of the expected flags exactly once.
std::optional<std::map<std::string, std::string>>
flags(const std::vector<std::string>& arguments, const std::vector<std::string_view>& expected,
      std::string& problem) {
    std::map<std::string, std::string> values;
    for (std::size_t index = 0; index < arguments.size(); index += 2) {
        const std::string& flag = arguments[index];
        if (std::find(expected.begin(), expected.end(), flag) == expected.end()) {
            problem = "unknown option " + flag;
            return std::nullopt;
        }
        if (index + 1 >= arguments.size()) {
            problem = flag + " needs a value";
            return std::nullopt;
        }
        if (!values.emplace(flag, arguments[index + 1]).second) {
            problem = flag + " is given twice";
            return std::nullopt;
        }
    }
    for (const std::string_view flag : expected) {
        if (!values.contains(std::string(flag))) {
            problem = std::string(flag) + " is missing";
            return std::nullopt;
        }
    }
    return values;
}

int report(const Outcome& outcome) {
    writeOut(STDOUT_FILENO, outcome.line + "\n");
    return outcome.status;
}

int run(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return usageError("no command");
    }
    const std::string& command = arguments.front();
    if (command == "--help" || command == "-h") {
        writeOut(STDOUT_FILENO, usage);
        return 0;
    }
    if (command == "--version") {
        writeOut(STDOUT_FILENO, "quillo-print " QUILLO_VERSION "\n");
        return 0;
    }
    const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    std::string problem;
    if (command == "download") {
        const auto values = flags(rest, {"--max-pages"}, problem);
        const auto pages = values ? number(values->at("--max-pages"), 1, 4) : std::nullopt;
        if (!pages) {
            return usageError(values ? "--max-pages must be 1 to 4" : problem);
        }
        return report(download(*pages));
    }
    if (command == "print") {
        const auto values = flags(
            rest, {"--printer", "--max-pages", "--expected-issue", "--expected-sha256"}, problem);
        if (!values) {
            return usageError(problem);
        }
        const PrintRequest request{values->at("--printer"),
                                   number(values->at("--max-pages"), 1, 4).value_or(0),
                                   values->at("--expected-issue"), values->at("--expected-sha256")};
        if (request.maxPages == 0) {
            return usageError("--max-pages must be 1 to 4");
        }
        if (request.printer.empty()) {
            return usageError("--printer must name a print queue");
        }
        if (!isIssueId(request.issue)) {
            return usageError("--expected-issue is not an issue id");
        }
        if (!isSha256Hex(request.sha256)) {
            return usageError("--expected-sha256 must be 64 lowercase hexadecimal digits");
        }
        return report(print(request));
    }
    if (command == "sync") {
        const auto values = flags(rest, {"--image", "--issue", "--width", "--height"}, problem);
        if (!values) {
            return usageError(problem);
        }
        const SyncRequest request{values->at("--image"), values->at("--issue"),
                                  number(values->at("--width"), 1, 65535).value_or(0),
                                  number(values->at("--height"), 1, 65535).value_or(0)};
        if (request.width == 0 || request.height == 0) {
            return usageError("--width and --height must be 1 to 65535");
        }
        if (!isIssueId(request.issue)) {
            return usageError("--issue is not an issue id");
        }
        return report(sync(request));
    }
    return usageError("unknown command " + command);
}

// Before any secret is read: no core file, and libcurl must not write TLS
// secrets into a key log that the reader's session happened to name.
void keepSecretsInProcess() {
    quillo::disableCoreDumps();
    ::unsetenv("SSLKEYLOGFILE");
}

} // namespace

int main(int argc, char** argv) {
    keepSecretsInProcess();
    std::signal(SIGPIPE, SIG_IGN);
    keepStandardStreamsOpen();
    if (argc == 3 && std::string_view(argv[1]) == "--check-issue") {
        return runIssueCheck(argv[2]);
    }
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception&) {
        // Exception texts may quote what they failed on; say nothing of it.
        return report(failed("quillo-print stopped on an unexpected error"));
    }
}
