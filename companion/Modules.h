// The steps the tool runs through its modules (see ModuleEntries.h), found in
// the install tree beside it.
#pragma once

#include "kit/IssueCheck.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>

namespace quillo::companion {

struct PrintJobCall;

// The check's result, or the reader's message. MuPDF parses the file in a
// child process that holds no secret: a PDF that crashes it fails the check.
std::variant<IssueCheck::Result, std::string> checkIssue(const std::filesystem::path& pdf);

// The child's side of checkIssue: the result on standard output.
int runIssueCheck(const std::filesystem::path& pdf);

// Where CUPS stands with a job of ours.
enum class JobState : std::uint8_t {
    // Created held: it prints only once released.
    held,
    // Pending, printing, stopped with its printer, or printed.
    taken,
    // Cancelled, aborted, or no longer known to CUPS.
    gone,
};

// One print queue's jobs through the print-job module. Every call answers in
// well under a minute; nothing on success, else the reader's message.
class PrintQueue {
public:
    PrintQueue(std::string printer, std::string title);

    std::optional<std::string> find();
    // The new job's id in `job`.
    std::optional<std::string> createHeld(int lastPage, int& job);
    std::optional<std::string> send(int job, const std::filesystem::path& pdf);
    // `untouched` when it failed without releasing the job: no scheduler,
    // or one that knows no such job.
    std::optional<std::string> release(int job, bool& untouched);
    std::optional<std::string> ask(int job, JobState& state);
    // Cancels the held jobs of this title: nothing that was never released prints.
    std::optional<std::string> cancelHeld();

private:
    std::optional<std::string> run(PrintJobCall& call);

    std::string printer_;
    std::string title_;
};

} // namespace quillo::companion
