// lib/quillo/libquillo-print-job.so: one CUPS job through libcups.
#include "companion/ModuleEntries.h"

#include <cstdio>
#include <cups/cups.h>
#include <memory>
#include <string>
#include <type_traits>

namespace {

constexpr int schedulerTimeLimit = 30000;

// Never ask for a password on a terminal: the tool runs unattended.
const char* noPassword(const char* /*prompt*/, http_t* /*http*/, const char* /*method*/,
                       const char* /*resource*/, void* /*user*/) {
    return nullptr;
}

struct ConnectionCloser {
    void operator()(http_t* connection) const { httpClose(connection); }
};

struct DestinationFree {
    void operator()(cups_dest_t* destination) const { cupsFreeDests(1, destination); }
};

struct OptionsFree {
    int count = 0;
    void operator()(cups_option_t* options) const { cupsFreeOptions(count, options); }
};

std::string lastCupsMessage() {
    std::string message = cupsLastErrorString() != nullptr ? cupsLastErrorString() : "";
    while (!message.empty() && (message.back() == '.' || message.back() == '\n')) {
        message.pop_back();
    }
    return message.empty() ? std::string("CUPS did not take the job") : message;
}

// libcups reports an unknown queue and an absent scheduler alike as "No such
// file or directory", so both are asked about before the job.
std::string submit(const char* printer, const char* pdf, const char* title,
                   const char* pageRanges) {
    cupsSetPasswordCB2(noPassword, nullptr);
    const std::unique_ptr<http_t, ConnectionCloser> connection(
        httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                     schedulerTimeLimit, nullptr));
    if (!connection) {
        return "The print system (CUPS) is not running";
    }
    const std::unique_ptr<cups_dest_t, DestinationFree> destination(
        cupsGetNamedDest(connection.get(), printer, nullptr));
    if (!destination) {
        return std::string("CUPS has no print queue named ") + printer;
    }
    cups_option_t* list = nullptr;
    const int count = cupsAddOption("page-ranges", pageRanges, 0, &list);
    const std::unique_ptr<cups_option_t, OptionsFree> options(list, {count});
    if (cupsPrintFile2(connection.get(), printer, pdf, title, count, options.get()) == 0) {
        return lastCupsMessage();
    }
    return {};
}

} // namespace

extern "C" __attribute__((visibility("default"))) int
quillo_submit_print_job(const char* printer, const char* pdf, const char* title,
                        const char* pageRanges, char* message, std::size_t messageSize) {
    static_assert(
        std::is_same_v<decltype(quillo_submit_print_job), quillo::companion::PrintJobEntry>);
    const std::string failure = submit(printer, pdf, title, pageRanges);
    std::snprintf(message, messageSize, "%s", failure.c_str());
    return failure.empty() ? 1 : 0;
}
