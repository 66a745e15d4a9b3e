// The C entries of the tool's two modules under lib/quillo/. The tool opens
// each only for the step that needs it, so a check that finds nothing new
// loads neither MuPDF nor libcups and the libraries they bring.
#pragma once

#include <cstddef>
#include <string_view>

namespace quillo::companion {

inline constexpr std::string_view issueCheckModule = "lib/quillo/libquillo-issue-check.so";
inline constexpr const char* issueCheckEntry = "quillo_check_issue";
// The IssueCheck::Problem as a number, or -1 when the issue is valid.
using IssueCheckEntry = int(const char* pdf, int* pages, int* badPage);

inline constexpr std::string_view printJobModule = "lib/quillo/libquillo-print-job.so";
inline constexpr const char* printJobEntry = "quillo_print_job";

// One exchange with the scheduler, each on a connection of its own and bounded
// in time, so a scheduler that hangs ends the exchange with a message.
enum class PrintJobStep : int {
    // Is the queue there? (printer)
    findQueue,
    // A job held until released (printer, title, lastPage): sets `job`.
    createHeld,
    // The document of `job`, its last (printer, job, pdf).
    sendDocument,
    // Lets `job` print (printer, job).
    release,
    // Sets `jobState` of `job`, 0 unless CUPS has a job of that id, title
    // and user.
    ask,
    // Cancels every held job of this user titled `title`, on any queue.
    cancelHeld,
};

struct PrintJobCall {
    PrintJobStep step = PrintJobStep::findQueue;
    const char* printer = "";
    const char* title = "";
    const char* pdf = "";
    int lastPage = 1;
    int job = 0;
    // IPP's job-state: 3 pending, 4 held, 5 processing, 6 stopped, 7
    // canceled, 8 aborted, 9 completed.
    int jobState = 0;
    // 1 when the step failed without touching the job: no scheduler to ask,
    // or one that knows no job of that id.
    int untouched = 0;
    char message[512] = {};
};
// 1 done; 0 with the reader's message in `message`.
using PrintJobEntry = int(PrintJobCall* call);

} // namespace quillo::companion
