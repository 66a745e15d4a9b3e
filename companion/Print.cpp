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

// The lines name neither the issue nor the queue: the agent reads words such
// as "disabled" anywhere in them, and a name may hold one.
const std::string sent = "Sent to the print queue";
const std::string lost =
    "CUPS no longer has the print job of this issue (cancelled or lost); it is not sent again";

std::string title(const std::string& issue) {
    return "Quillo " + issue;
}

// The cached issue's page count once it is the one the agent checked and
// still a valid issue; else the reader's message.
std::variant<int, std::string>
cachedIssue(const ServiceAccess& service, const PrintRequest& request, std::filesystem::path& pdf) {
    pdf = issuePdf(feedDirectory(homeDirectory(), service.address, service.deliveryKey),
                   request.issue);
    if (Sha256::fileHex(pdf) != request.sha256) {
        return std::string("The issue is not in the cache as checked; the next check downloads it "
                           "again");
    }
    const auto checked = checkIssue(pdf);
    if (const auto* message = std::get_if<std::string>(&checked)) {
        return *message;
    }
    const auto& check = std::get<IssueCheck::Result>(checked);
    if (check.problem) {
        return std::string("The issue in the cache is not a valid issue");
    }
    return check.pages;
}

// Jobs that runs for other issues left unfinished. The reader is promised the
// newest issue: a copy of an older one that never printed is cancelled, not
// printed late behind it; one CUPS took counts as printed. No job of ours
// stays held.
std::optional<std::string> settleOtherIssues(Records& records, const std::string& printer,
                                             const std::string& serviceKey,
                                             const std::string& current) {
    const auto unsettled = records.unsettledJobs(serviceKey);
    if (!unsettled) {
        return "Could not read the record of printed issues; nothing was printed";
    }
    for (const auto& [issue, record] : *unsettled) {
        if (issue == current) {
            continue;
        }
        PrintQueue queue(printer, title(issue));
        JobState job = JobState::gone;
        if (record.state != State::creating) {
            if (auto error = queue.ask(record.job, job)) {
                return error;
            }
        }
        if (record.state == State::creating || job == JobState::held) {
            if (auto error = queue.cancelHeld()) {
                return error;
            }
        }
        const State settled = job == JobState::taken ? State::printed
                              : job == JobState::gone && record.state == State::releasing
                                  ? State::lost
                                  : State::withdrawn;
        if (auto error = records.setPrintRecord(serviceKey, issue, {settled, record.job})) {
            return error;
        }
    }
    return std::nullopt;
}

// An earlier run recorded a job of this issue and did not see it through:
// CUPS says where it stands. Nothing when the issue is to be printed anew (a
// job that was never released); the outcome otherwise.
std::optional<Outcome> finishRecordedJob(Records& records, PrintQueue& queue,
                                         const std::string& serviceKey, const PrintRequest& request,
                                         const PrintRecord& record) {
    JobState job = JobState::gone;
    if (auto error = queue.ask(record.job, job)) {
        return failed(*error);
    }
    const bool released = record.state == State::releasing;
    if (job == JobState::gone && !released) {
        return std::nullopt;
    }
    if (job == JobState::gone) {
        // Its release was asked for: CUPS may have printed it before it forgot it.
        if (auto error =
                records.setPrintRecord(serviceKey, request.issue, {State::lost, record.job})) {
            return failed(*error);
        }
        return failed(lost);
    }
    if (job == JobState::held && !released) {
        // Its document may be cut short: it is cancelled below, and printed anew.
        return std::nullopt;
    }
    bool untouched = false;
    if (job == JobState::held) {
        if (auto error = queue.release(record.job, untouched)) {
            // Gone since CUPS said it was held: it never printed.
            if (untouched) {
                records.setPrintRecord(serviceKey, request.issue, {State::held, record.job});
            }
            return failed(*error);
        }
    }
    if (auto error = records.setPrintRecord(serviceKey, request.issue, {State::printed})) {
        return failed(*error);
    }
    return done(sent);
}

} // namespace

// The record comes first, so a printed issue costs no request. Then jobs left
// from other issues are settled, and this issue's job is created held,
// recorded, given its document, recorded as released and released: whatever
// stops the tool or the scheduler, the record names the job and how far it
// went, and a later run asks CUPS about it instead of printing blindly.
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
    if (auto error = records.movePrintedForward(feedKey(service.address, service.deliveryKey),
                                                service.recordKey)) {
        return failed(*error + "; nothing was printed");
    }
    const auto recorded = records.printRecord(service.recordKey, request.issue);
    if (!recorded) {
        return failed("Could not read the record of printed issues; nothing was printed");
    }
    switch (recorded->state) {
    case State::printed:
        return done("Already printed");
    case State::lost:
        return failed(lost);
    default:
        break;
    }
    if (auto error =
            settleOtherIssues(records, request.printer, service.recordKey, request.issue)) {
        return failed(*error);
    }
    PrintQueue queue(request.printer, title(request.issue));
    if (recorded->state == State::held || recorded->state == State::releasing) {
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
    if (auto error = record(State::releasing, job)) {
        return failed(*error);
    }
    bool untouched = false;
    if (auto error = queue.release(job, untouched)) {
        // Never released (CUPS gone, or restarted without it): made again next time.
        if (untouched && !record(State::held, job)) {
            return failed(*error + "; the next check prints the issue");
        }
        return failed(*error);
    }
    if (record(State::printed, job)) {
        return done(sent + "; it could not be recorded");
    }
    return done(sent);
}

} // namespace quillo::companion
