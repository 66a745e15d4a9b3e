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

using State = PrintRecord::State;

std::string lost(const std::string& issue) {
    return "CUPS no longer has the print job of issue " + issue +
           " (cancelled or lost); it is not sent again";
}

// The cached issue's page count once it is the one the agent checked and
// still a valid issue; else the reader's message.
std::variant<int, std::string>
cachedIssue(const ServiceAccess& service, const PrintRequest& request, std::filesystem::path& pdf) {
    pdf = issuePdf(feedDirectory(homeDirectory(), service.address, service.token), request.issue);
    if (Sha256::fileHex(pdf) != request.sha256) {
        return "Issue " + request.issue +
               " is not in the cache as checked; the next check downloads it again";
    }
    const auto checked = checkIssue(pdf);
    if (const auto* message = std::get_if<std::string>(&checked)) {
        return *message;
    }
    const auto& check = std::get<IssueCheck::Result>(checked);
    if (check.problem) {
        return "Issue " + request.issue + " in the cache is not a valid issue";
    }
    return check.pages;
}

// An earlier run recorded a job and did not see it through: CUPS says where
// it stands. Nothing when the issue is to be printed anew (a job that never
// held the whole document); the outcome otherwise.
std::optional<Outcome> finishRecordedJob(Records& records, PrintQueue& queue,
                                         const std::string& serviceKey, const PrintRequest& request,
                                         const PrintRecord& record) {
    JobState job = JobState::gone;
    if (auto error = queue.ask(record.job, job)) {
        return failed(*error);
    }
    const bool whole = record.state == State::sent;
    if (job == JobState::gone && !whole) {
        return std::nullopt;
    }
    if (job == JobState::gone) {
        if (auto error =
                records.setPrintRecord(serviceKey, request.issue, {State::lost, record.job})) {
            return failed(*error);
        }
        return failed(lost(request.issue));
    }
    if (job == JobState::held && !whole) {
        // Its document may be cut short: it is cancelled below, and printed anew.
        return std::nullopt;
    }
    if (job == JobState::held) {
        if (auto error = queue.release(record.job)) {
            return failed(*error);
        }
    }
    if (auto error = records.setPrintRecord(serviceKey, request.issue, {State::printed})) {
        return failed(*error);
    }
    return done("Sent " + request.issue + " to " + request.printer);
}

} // namespace

// The record comes first, so a printed issue costs no request. Then the job is
// created held, recorded, given its document, recorded again and released:
// whatever stops the tool or the scheduler, the record names the job, and a
// later run asks CUPS about it instead of printing blindly.
Outcome print(const PrintRequest& request) {
    auto access = serviceAccessFromEnvironment();
    if (auto* message = std::get_if<std::string>(&access)) {
        return failed(*message);
    }
    const auto& service = std::get<ServiceAccess>(access);
    Records records;
    if (records.error()) {
        return failed(*records.error());
    }
    // Earlier versions kept the record under the feed key, which holds the delivery key.
    if (auto error = records.movePrintedForward(feedKey(service.address, service.token),
                                                service.recordKey)) {
        return failed(*error + "; nothing was printed");
    }
    const auto recorded = records.printRecord(service.recordKey, request.issue);
    if (!recorded) {
        return failed("Could not read the record of printed issues; nothing was printed");
    }
    switch (recorded->state) {
    case State::printed:
        return done("Already printed " + request.issue);
    case State::lost:
        return failed(lost(request.issue));
    default:
        break;
    }
    PrintQueue queue(request.printer, "Quillo " + request.issue);
    if (recorded->state == State::held || recorded->state == State::sent) {
        if (auto outcome =
                finishRecordedJob(records, queue, service.recordKey, request, *recorded)) {
            return *outcome;
        }
    }

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
    std::filesystem::path pdf;
    const auto pages = cachedIssue(service, request, pdf);
    if (const auto* message = std::get_if<std::string>(&pages)) {
        return failed(*message);
    }

    if (auto error = queue.find()) {
        return failed(*error);
    }
    // A held job an earlier run left behind never prints: it goes.
    if (recorded->state != State::none) {
        if (auto error = queue.cancelHeld()) {
            return failed(*error);
        }
    }
    const auto record = [&](State state, int job) {
        return records.setPrintRecord(service.recordKey, request.issue, {state, job});
    };
    if (auto error = record(State::creating, 0)) {
        return failed(*error + "; nothing was printed");
    }
    int job = 0;
    if (auto error = queue.createHeld(std::min(request.maxPages, std::get<int>(pages)), job)) {
        return failed(*error);
    }
    if (auto error = record(State::held, job)) {
        return failed(*error);
    }
    if (auto error = queue.send(job, pdf)) {
        return failed(*error);
    }
    if (auto error = record(State::sent, job)) {
        return failed(*error);
    }
    if (auto error = queue.release(job)) {
        return failed(*error);
    }
    if (auto error = record(State::printed, job)) {
        return done("Sent " + request.issue + " to " + request.printer +
                    "; it was not recorded: " + *error);
    }
    return done("Sent " + request.issue + " to " + request.printer);
}

} // namespace quillo::companion
