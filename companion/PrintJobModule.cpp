// lib/quillo/libquillo-print-job.so: the tool's exchanges with CUPS through
// libcups, each bounded in time.
#include "companion/ModuleEntries.h"

#include <cstdio>
#include <cups/cups.h>
#include <memory>
#include <string>
#include <type_traits>

namespace {

using quillo::companion::PrintJobCall;
using quillo::companion::PrintJobStep;

constexpr int connectTimeLimit = 10000;
// Seconds of silence after which a request gives up; a step makes at most a
// few requests, so it ends well within a minute when the scheduler hangs.
constexpr double replyTimeLimit = 10.0;

const std::string schedulerHangs = "The print system (CUPS) did not answer in time";
const std::string schedulerGone = "The print system (CUPS) stopped answering";

// Never ask for a password on a terminal: the tool runs unattended.
const char* noPassword(const char* /*prompt*/, http_t* /*http*/, const char* /*method*/,
                       const char* /*resource*/, void* /*user*/) {
    return nullptr;
}

// libcups waits again for as long as this says so; once is enough.
int giveUp(http_t* /*http*/, void* timedOut) {
    *static_cast<bool*>(timedOut) = true;
    return 0;
}

struct ConnectionCloser {
    void operator()(http_t* connection) const { httpClose(connection); }
};

struct ResponseFree {
    void operator()(ipp_t* response) const { ippDelete(response); }
};
using Response = std::unique_ptr<ipp_t, ResponseFree>;

class Scheduler {
public:
    explicit Scheduler(const char* printer) : printer_(printer) {
        cupsSetPasswordCB2(noPassword, nullptr);
        connection_.reset(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC,
                                       cupsEncryption(), 1, connectTimeLimit, nullptr));
        if (connection_) {
            httpSetTimeout(connection_.get(), replyTimeLimit, giveUp, &timedOut_);
        }
        httpAssembleURIf(HTTP_URI_CODING_ALL, uri_, sizeof(uri_), "ipp", nullptr, "localhost", 0,
                         "/printers/%s", printer);
    }

    [[nodiscard]] bool connected() const { return connection_ != nullptr; }

    // A request about the queue (or every queue), with the user's name and
    // `job` when given.
    [[nodiscard]] ipp_t* request(ipp_op_t operation, int job = 0, bool everyQueue = false) const {
        ipp_t* request = ippNewRequest(operation);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                     everyQueue ? "ipp://localhost/" : uri_);
        if (job > 0) {
            ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job);
        }
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                     cupsUser());
        return request;
    }

    // The answer, or nothing with the reader's message in `failure`.
    Response send(ipp_t* request, std::string& failure, const char* file = nullptr) {
        // libcups frees the request.
        const ipp_op_t operation = ippGetOperation(request);
        Response response(file != nullptr ? cupsDoFileRequest(connection_.get(), request, "/", file)
                                          : cupsDoRequest(connection_.get(), request, "/"));
        if (timedOut_) {
            failure = schedulerHangs;
            return nullptr;
        }
        // Without an answer, a scheduler that went away is no missing queue.
        if (!response) {
            failure = schedulerGone;
            return nullptr;
        }
        if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND &&
            operation == IPP_OP_GET_PRINTER_ATTRIBUTES) {
            // The queue's name stays out: it may hold a word the agent reads.
            failure = "CUPS has no print queue of the name set in Settings";
            return nullptr;
        }
        if (cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
            failure = lastCupsMessage();
            return nullptr;
        }
        return response;
    }

private:
    static std::string lastCupsMessage() {
        std::string message = cupsLastErrorString() != nullptr ? cupsLastErrorString() : "";
        while (!message.empty() && (message.back() == '.' || message.back() == '\n')) {
            message.pop_back();
        }
        return message.empty() ? std::string("CUPS did not take the job") : message;
    }

    const char* printer_;
    std::unique_ptr<http_t, ConnectionCloser> connection_;
    char uri_[HTTP_MAX_URI] = {};
    bool timedOut_ = false;
};

int integer(ipp_t* response, const char* name) {
    ipp_attribute_t* attribute = ippFindAttribute(response, name, IPP_TAG_ZERO);
    return attribute != nullptr ? ippGetInteger(attribute, 0) : 0;
}

std::string text(ipp_t* response, const char* name) {
    ipp_attribute_t* attribute = ippFindAttribute(response, name, IPP_TAG_ZERO);
    const char* value = attribute != nullptr ? ippGetString(attribute, 0, nullptr) : nullptr;
    return value != nullptr ? value : "";
}

std::string createHeld(Scheduler& cups, PrintJobCall& call) {
    ipp_t* request = cups.request(IPP_OP_CREATE_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, call.title);
    // Held until the document is whole and the job id recorded: only then
    // may it print.
    ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-hold-until", nullptr, "indefinite");
    ippAddRange(request, IPP_TAG_JOB, "page-ranges", 1, call.lastPage);
    // "fit", not "auto-fit": auto-fit leaves a page that matches the media
    // unscaled, so a Letter issue on Letter paper loses what falls in the
    // printer's unprintable edge; fit scales every page into the printable
    // area whole, whatever the paper.
    ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-scaling", nullptr, "fit");
    std::string failure;
    const Response response = cups.send(request, failure);
    call.job = response ? integer(response.get(), "job-id") : 0;
    if (response && call.job <= 0) {
        return "CUPS did not take the job";
    }
    return failure;
}

std::string sendDocument(Scheduler& cups, const PrintJobCall& call) {
    ipp_t* request = cups.request(IPP_OP_SEND_DOCUMENT, call.job);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                 "application/pdf");
    ippAddBoolean(request, IPP_TAG_OPERATION, "last-document", 1);
    std::string failure;
    cups.send(request, failure, call.pdf);
    return failure;
}

std::string ask(Scheduler& cups, PrintJobCall& call) {
    ipp_t* request = cups.request(IPP_OP_GET_JOB_ATTRIBUTES, call.job);
    const char* const wanted[] = {"job-state", "job-name", "job-originating-user-name"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
                  wanted);
    std::string failure;
    const Response response = cups.send(request, failure);
    call.jobState = 0;
    if (!response) {
        // A job CUPS does not know is an answer, not a failure.
        const bool answered = failure != schedulerHangs && failure != schedulerGone;
        return answered && cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND ? std::string() : failure;
    }
    // After a scheduler lost its state, the id may name someone else's job,
    // titled like ours or not.
    if (text(response.get(), "job-name") == call.title &&
        text(response.get(), "job-originating-user-name") == cupsUser()) {
        call.jobState = integer(response.get(), "job-state");
    }
    return {};
}

std::string cancelHeld(Scheduler& cups, const PrintJobCall& call) {
    // An earlier run may have used another queue.
    ipp_t* request = cups.request(IPP_OP_GET_JOBS, 0, true);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr,
                 "not-completed");
    ippAddBoolean(request, IPP_TAG_OPERATION, "my-jobs", 1);
    const char* const wanted[] = {"job-id", "job-state", "job-name"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
                  wanted);
    std::string failure;
    const Response jobs = cups.send(request, failure);
    int job = 0;
    bool held = false;
    bool named = false;
    // Get-Jobs answers one group of attributes per job.
    for (ipp_attribute_t* attribute = jobs ? ippFirstAttribute(jobs.get()) : nullptr;
         failure.empty(); attribute = ippNextAttribute(jobs.get())) {
        const char* name = attribute != nullptr ? ippGetName(attribute) : nullptr;
        if (name == nullptr && job > 0 && held && named) {
            cups.send(cups.request(IPP_OP_CANCEL_JOB, job), failure);
        }
        if (name == nullptr) {
            job = 0;
            held = named = false;
        } else if (std::string(name) == "job-id") {
            job = ippGetInteger(attribute, 0);
        } else if (std::string(name) == "job-state") {
            held = ippGetInteger(attribute, 0) == IPP_JSTATE_HELD;
        } else if (std::string(name) == "job-name") {
            const char* value = ippGetString(attribute, 0, nullptr);
            named = value != nullptr && std::string(value) == call.title;
        }
        if (attribute == nullptr) {
            break;
        }
    }
    return failure;
}

std::string run(PrintJobCall& call) {
    Scheduler cups(call.printer);
    if (!cups.connected()) {
        call.untouched = 1;
        return "The print system (CUPS) is not running";
    }
    std::string failure;
    switch (call.step) {
    case PrintJobStep::findQueue:
        cups.send(cups.request(IPP_OP_GET_PRINTER_ATTRIBUTES), failure);
        return failure;
    case PrintJobStep::createHeld:
        return createHeld(cups, call);
    case PrintJobStep::sendDocument:
        return sendDocument(cups, call);
    case PrintJobStep::release:
        cups.send(cups.request(IPP_OP_RELEASE_JOB, call.job), failure);
        // A scheduler that answered it knows no such job never released it.
        call.untouched = static_cast<int>(!failure.empty() && failure != schedulerHangs &&
                                          failure != schedulerGone &&
                                          cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND);
        return failure;
    case PrintJobStep::ask:
        return ask(cups, call);
    case PrintJobStep::cancelHeld:
        return cancelHeld(cups, call);
    }
    return "Unknown print step";
}

} // namespace

extern "C" __attribute__((visibility("default"))) int quillo_print_job(PrintJobCall* call) {
    static_assert(std::is_same_v<decltype(quillo_print_job), quillo::companion::PrintJobEntry>);
    const std::string failure = run(*call);
    std::snprintf(call->message, sizeof(call->message), "%s", failure.c_str());
    return failure.empty() ? 1 : 0;
}
