#include "companion/Print.h"

#include "companion/FeedCache.h"
#include "companion/Records.h"
#include "companion/Service.h"
#include "companion/Validation.h"
#include "kit/FeedKey.h"

#include <algorithm>
#include <chrono>
#include <cups/cups.h>
#include <memory>
#include <optional>

namespace quillo::companion {
namespace {

constexpr std::chrono::seconds serviceTimeLimit{120};
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

std::string lastCupsMessage() {
    std::string message = cupsLastErrorString() != nullptr ? cupsLastErrorString() : "";
    while (!message.empty() && (message.back() == '.' || message.back() == '\n')) {
        message.pop_back();
    }
    return message.empty() ? std::string("CUPS did not take the job") : message;
}

// Nothing once CUPS took the job, else CUPS's message. libcups reports an
// unknown queue and an absent scheduler alike as "No such file or directory",
// so both are asked about first.
std::optional<std::string> submit(const PrintRequest& request, const std::filesystem::path& pdf,
                                  int pages) {
    cupsSetPasswordCB2(noPassword, nullptr);
    const std::unique_ptr<http_t, ConnectionCloser> connection(
        httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                     schedulerTimeLimit, nullptr));
    if (!connection) {
        return "The print system (CUPS) is not running";
    }
    const std::unique_ptr<cups_dest_t, DestinationFree> destination(
        cupsGetNamedDest(connection.get(), request.printer.c_str(), nullptr));
    if (!destination) {
        return "CUPS has no print queue named " + request.printer;
    }
    const std::string range = "1-" + std::to_string(std::min(request.maxPages, pages));
    cups_option_t* options = nullptr;
    const int count = cupsAddOption("page-ranges", range.c_str(), 0, &options);
    const std::string title = "Quillo " + request.issue;
    const int job = cupsPrintFile2(connection.get(), request.printer.c_str(), pdf.c_str(),
                                   title.c_str(), count, options);
    cupsFreeOptions(count, options);
    if (job == 0) {
        return lastCupsMessage();
    }
    return std::nullopt;
}

} // namespace

Outcome print(const PrintRequest& request) {
    auto access = serviceAccessFromEnvironment();
    if (auto* message = std::get_if<std::string>(&access)) {
        return failed(*message);
    }
    const auto& service = std::get<ServiceAccess>(access);
    Http http("the service", serviceTimeLimit);
    auto answer = askLatest(http, service, request.maxPages);
    if (auto* message = std::get_if<std::string>(&answer)) {
        return failed(*message);
    }
    switch (std::get<LatestIssue>(answer).state) {
    case LatestIssue::State::disabled:
        return done("Local delivery is disabled in Quillo web preferences; nothing was printed");
    case LatestIssue::State::waiting:
        return done("No issue to print yet");
    case LatestIssue::State::ready:
        break;
    }

    const std::filesystem::path feed =
        feedDirectory(homeDirectory(), service.address, service.token);
    const std::filesystem::path pdf = issuePdf(feed, request.issue);
    if (Sha256::fileHex(pdf) != request.sha256) {
        return failed("Issue " + request.issue +
                      " is not in the cache as checked; the next check downloads it again");
    }
    const auto checked = checkIssue(pdf);
    if (const auto* message = std::get_if<std::string>(&checked)) {
        return failed(*message);
    }
    const auto& check = std::get<IssueCheck::Result>(checked);
    if (check.problem) {
        return failed("Issue " + request.issue + " in the cache is not a valid issue");
    }

    Records records;
    if (records.error()) {
        return failed(*records.error());
    }
    const std::string feedDigest = feedKey(service.address, service.token);
    const auto printedBefore = records.printed(feedDigest, request.issue);
    if (!printedBefore) {
        return failed("Could not read the record of printed issues; nothing was printed");
    }
    if (*printedBefore) {
        return done("Already printed " + request.issue);
    }
    // Recorded first: a crash before CUPS takes the job loses one copy rather
    // than printing the issue twice.
    if (auto error = records.markPrinted(feedDigest, request.issue)) {
        return failed(*error + "; nothing was printed");
    }
    if (const auto refused = submit(request, pdf, check.pages)) {
        const std::string& message = *refused;
        if (auto error = records.unmarkPrinted(feedDigest, request.issue)) {
            return failed(message + "; " + *error);
        }
        return failed(message);
    }
    return done("Sent " + request.issue + " to " + request.printer);
}

} // namespace quillo::companion
