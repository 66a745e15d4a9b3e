#include "companion/Download.h"

#include "companion/FeedCache.h"
#include "companion/Modules.h"
#include "companion/Service.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

namespace quillo::companion {
namespace {

constexpr std::size_t issueLimit = std::size_t{50} << 20;
constexpr std::chrono::seconds downloadTimeLimit{120};

std::string stateLine(const char* state) {
    return nlohmann::json{{"state", state}}.dump();
}

std::string problemText(const IssueCheck::Result& result, const std::string& issue) {
    switch (*result.problem) {
    case IssueCheck::Problem::pageCount:
        return "Issue " + issue + " has " + std::to_string(result.pages) +
               " pages; an issue has 1 to 4";
    case IssueCheck::Problem::pageSize:
        return "Page " + std::to_string(result.badPage) + " of issue " + issue +
               " is not US Letter (612 × 792 pt)";
    case IssueCheck::Problem::unreadable:
        break;
    }
    return "Issue " + issue + " is not a PDF that opens without repair";
}

// A temporary file in the feed folder, removed unless it was renamed.
class PartialFile {
public:
    explicit PartialFile(const std::filesystem::path& feed)
        : path_((feed / ".download-XXXXXX").string()) {
        descriptor_ = ::mkostemp(path_.data(), O_CLOEXEC);
    }
    ~PartialFile() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
        if (!kept_) {
            ::unlink(path_.c_str());
        }
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    [[nodiscard]] int descriptor() const { return descriptor_; }
    [[nodiscard]] const std::string& path() const { return path_; }

    FileError keepAs(const std::filesystem::path& target) {
        const bool closed = ::fsync(descriptor_) == 0 && ::close(descriptor_) == 0;
        descriptor_ = -1;
        if (!closed || ::rename(path_.c_str(), target.c_str()) != 0) {
            return systemFailure("keep the issue in " + target.parent_path().string());
        }
        kept_ = true;
        return syncDirectory(target.parent_path());
    }

private:
    std::string path_;
    int descriptor_ = -1;
    bool kept_ = false;
};

// Downloads, checks and keeps the issue as <id>.pdf; the validated page count,
// or the reader's message.
std::variant<int, std::string> fetchIssue(Http& http, const ServiceAccess& access,
                                          const LatestIssue& latest,
                                          const std::filesystem::path& feed) {
    PartialFile partial(feed);
    if (partial.descriptor() < 0) {
        return systemFailure("write into " + feed.string());
    }
    Sha256::Hasher hasher;
    const HttpResponse response = http.download(latest.pdfUrl, serviceHeaders(access),
                                                partial.descriptor(), issueLimit, hasher);
    if (response.failure) {
        return *response.failure;
    }
    if (response.tooLarge) {
        return "Issue " + latest.issue + " is larger than 50 MiB; nothing was kept";
    }
    if (response.status != 200) {
        return serviceRefusal(http, response.status) + " for issue " + latest.issue;
    }
    if (hasher.finish() != latest.sha256) {
        return "Issue " + latest.issue + " does not match its SHA-256; nothing was kept";
    }
    const auto checked = checkIssue(partial.path());
    if (const auto* message = std::get_if<std::string>(&checked)) {
        return *message;
    }
    const auto& check = std::get<IssueCheck::Result>(checked);
    if (check.problem) {
        return problemText(check, latest.issue);
    }
    if (check.pages != latest.pages) {
        return "Issue " + latest.issue + " has " + std::to_string(check.pages) +
               " pages, not the " + std::to_string(latest.pages) + " the service announced";
    }
    if (auto error = partial.keepAs(issuePdf(feed, latest.issue))) {
        return *error;
    }
    return check.pages;
}

} // namespace

Outcome download(int maxPages) {
    auto access = serviceAccessFromEnvironment();
    if (auto* message = std::get_if<std::string>(&access)) {
        return failed(*message);
    }
    const auto& service = std::get<ServiceAccess>(access);
    Http http("the service", downloadTimeLimit);
    auto answer = askLatest(http, service, maxPages);
    if (auto* message = std::get_if<std::string>(&answer)) {
        return failed(*message);
    }
    const auto& latest = std::get<LatestIssue>(answer);
    if (latest.state == LatestIssue::State::waiting) {
        return done(stateLine("waiting"));
    }
    if (latest.state == LatestIssue::State::disabled) {
        return done(stateLine("disabled"));
    }

    const std::filesystem::path feed =
        feedDirectory(homeDirectory(), service.address, service.deliveryKey);
    if (auto error = makePrivateDirectory(feed)) {
        return failed(*error);
    }
    const FileLock lock(feed / ".lock");
    if (lock.error()) {
        return failed(*lock.error());
    }
    const std::filesystem::path pdf = issuePdf(feed, latest.issue);
    removeLeftovers(feed);
    LatestPointer pointer{latest.issue, pdf, latest.sha256, 0};
    const bool cached = Sha256::fileHex(pdf) == latest.sha256;
    const auto current = readLatest(feed);
    const nlohmann::ordered_json result = {
        {"state", "ready"}, {"issue", latest.issue}, {"pdf", pdf.string()}};
    if (cached && current && current->issue == latest.issue && current->pdf == pdf &&
        current->sha256 == latest.sha256) {
        // Nothing changed: a five-minute check costs one small request.
        return done(result.dump());
    }
    if (cached) {
        const auto checked = checkIssue(pdf);
        if (const auto* message = std::get_if<std::string>(&checked)) {
            return failed(*message);
        }
        const auto& check = std::get<IssueCheck::Result>(checked);
        if (check.problem) {
            return failed(problemText(check, latest.issue));
        }
        pointer.pages = check.pages;
    } else {
        auto fetched = fetchIssue(http, service, latest, feed);
        if (auto* message = std::get_if<std::string>(&fetched)) {
            return failed(*message);
        }
        pointer.pages = std::get<int>(fetched);
    }
    if (auto error = makeLatest(feed, pointer)) {
        return failed(*error);
    }
    return done(result.dump());
}

} // namespace quillo::companion
