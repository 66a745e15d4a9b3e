#include "companion/Records.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace quillo::companion {
namespace {

constexpr std::size_t recordLimit = std::size_t{1} << 20;
// Older entries go, so the file stays small; an issue comes back far less often.
constexpr std::size_t keptPrintedIssues = 500;

using State = PrintRecord::State;
constexpr std::array<std::pair<State, std::string_view>, 5> stateNames{
    {{State::creating, "creating"},
     {State::held, "held"},
     {State::releasing, "sent"},
     {State::lost, "lost"},
     {State::withdrawn, "withdrawn"}}};

// The record's entries; nothing when it exists but cannot be read.
std::optional<std::vector<std::string>> lines(const std::filesystem::path& path) {
    auto text = readSmallFile(path, recordLimit);
    std::error_code error;
    if (!text && std::filesystem::symlink_status(path, error).type() !=
                     std::filesystem::file_type::not_found) {
        return std::nullopt;
    }
    std::vector<std::string> result;
    std::istringstream stream(text.value_or(""));
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty()) {
            result.push_back(line);
        }
    }
    return result;
}

std::string issueOf(const std::string& line) {
    return line.substr(0, line.find(' '));
}

// A line the tool cannot read is taken as printed: never print on a doubt.
PrintRecord parse(const std::string& line) {
    std::istringstream fields(line);
    std::string issue;
    std::string name;
    std::string rest;
    int job = -1;
    fields >> issue >> name >> job;
    const bool whole = !fields.fail() && !(fields >> rest);
    for (const auto& [state, text] : stateNames) {
        // Only a state without a job of its own may name none.
        const bool jobless = state == State::creating || state == State::withdrawn;
        if (name == text && whole && (job > 0 || (job == 0 && jobless))) {
            return {state, job};
        }
    }
    return {State::printed, 0};
}

std::string format(const std::string& issue, const PrintRecord& record) {
    for (const auto& [state, text] : stateNames) {
        if (record.state == state) {
            return issue + " " + std::string(text) + " " + std::to_string(record.job);
        }
    }
    return issue;
}

std::string unreadable(const std::filesystem::path& path) {
    return "Could not read the record " + path.string();
}

FileError writeLines(const std::filesystem::path& path, const std::vector<std::string>& entries) {
    std::string text;
    for (const std::string& entry : entries) {
        text += entry + "\n";
    }
    return writeAtomically(path, text);
}

} // namespace

std::filesystem::path stateDirectory() {
    const char* state = std::getenv("XDG_STATE_HOME");
    const std::filesystem::path base =
        state != nullptr && state[0] == '/' ? state : homeDirectory() / ".local/state";
    return base / "quillo";
}

Records::Records() : directory_(stateDirectory()) {
    for (const char* folder : {"", "printed", "uploads"}) {
        if ((error_ = makePrivateDirectory(directory_ / folder))) {
            return;
        }
    }
    lock_ = std::make_unique<FileLock>(directory_ / ".lock");
    error_ = lock_->error();
}

FileError Records::moveForward(const char* folder, const std::string& legacyKey,
                               const std::string& key) {
    const auto legacy = directory_ / folder / legacyKey;
    const auto current = directory_ / folder / key;
    const auto earlier = lines(legacy);
    auto entries = lines(current);
    if (legacyKey == key || !earlier || earlier->empty() || !entries) {
        return std::nullopt;
    }
    if (folder == std::string_view("printed")) {
        for (const std::string& line : *earlier) {
            const auto same = [&](const std::string& e) { return issueOf(e) == issueOf(line); };
            if (std::none_of(entries->begin(), entries->end(), same)) {
                entries->push_back(line);
            }
        }
    } else if (entries->empty()) {
        // Of two uploads, the newer record (under the normalised address) stands.
        entries = earlier;
    }
    if (auto error = writeLines(current, *entries)) {
        return error;
    }
    std::error_code error;
    std::filesystem::remove(legacy, error);
    return std::nullopt;
}

std::optional<PrintRecord> Records::printRecord(const std::string& serviceKey,
                                                const std::string& issue) const {
    const auto entries = lines(directory_ / "printed" / serviceKey);
    if (!entries) {
        return std::nullopt;
    }
    const auto found =
        std::find_if(entries->rbegin(), entries->rend(),
                     [&](const std::string& line) { return issueOf(line) == issue; });
    return found == entries->rend() ? PrintRecord{} : parse(*found);
}

std::optional<std::vector<UnsettledJob>>
Records::unsettledJobs(const std::string& serviceKey) const {
    const auto entries = lines(directory_ / "printed" / serviceKey);
    if (!entries) {
        return std::nullopt;
    }
    std::vector<UnsettledJob> unsettled;
    for (const std::string& line : *entries) {
        const PrintRecord record = parse(line);
        if (record.state == State::creating || record.state == State::held ||
            record.state == State::releasing) {
            unsettled.push_back({issueOf(line), record});
        }
    }
    return unsettled;
}

FileError Records::setPrintRecord(const std::string& serviceKey, const std::string& issue,
                                  const PrintRecord& record) {
    const auto path = directory_ / "printed" / serviceKey;
    auto entries = lines(path);
    if (!entries) {
        return unreadable(path);
    }
    entries->erase(std::remove_if(entries->begin(), entries->end(),
                                  [&](const std::string& line) { return issueOf(line) == issue; }),
                   entries->end());
    if (record.state != State::none) {
        entries->push_back(format(issue, record));
    }
    if (entries->size() > keptPrintedIssues) {
        entries->erase(entries->begin(), entries->end() - keptPrintedIssues);
    }
    return writeLines(path, *entries);
}

bool Records::uploaded(const std::string& webhookKey, const std::string& issue,
                       const std::string& imageSha256) const {
    return lines(directory_ / "uploads" / webhookKey) ==
           std::optional<std::vector<std::string>>({issue, imageSha256});
}

FileError Records::markUploaded(const std::string& webhookKey, const std::string& issue,
                                const std::string& imageSha256) {
    return writeLines(directory_ / "uploads" / webhookKey, {issue, imageSha256});
}

} // namespace quillo::companion
