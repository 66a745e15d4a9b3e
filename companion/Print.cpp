#include "companion/Print.h"

#include "companion/FeedCache.h"
#include "companion/Modules.h"
#include "companion/Records.h"
#include "companion/Service.h"
#include "kit/FeedKey.h"

#include <algorithm>
#include <chrono>

namespace quillo::companion {
namespace {

constexpr std::chrono::seconds serviceTimeLimit{120};

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
    const std::string pageRanges = "1-" + std::to_string(std::min(request.maxPages, check.pages));
    if (const auto refused =
            submitPrintJob(request.printer, pdf, "Quillo " + request.issue, pageRanges)) {
        const std::string& message = *refused;
        if (auto error = records.unmarkPrinted(feedDigest, request.issue)) {
            return failed(message + "; " + *error);
        }
        return failed(message);
    }
    return done("Sent " + request.issue + " to " + request.printer);
}

} // namespace quillo::companion
