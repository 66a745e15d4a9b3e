// The newspaper service as the tool sees it: where it is, the delivery key,
// and its answer to "what is the latest issue for this reader".
#pragma once

#include "companion/Http.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace quillo::companion {

// An issue id becomes a file name: [A-Za-z0-9._-]{1,64}, not starting with ".".
bool isIssueId(std::string_view id);

bool isSha256Hex(std::string_view text);

struct ServiceAccess {
    // QUILLO_URL as given: the feed key is made from it.
    std::string address;
    // scheme://host[:port], where every request goes.
    std::string origin;
    Address parsedOrigin;
    std::string deliveryKey;
    // Names the service's records: the same for every key and every
    // spelling of its origin.
    std::string recordKey;
};

// From QUILLO_URL and QUILLO_PRINT_TOKEN; the reader's message on failure.
std::variant<ServiceAccess, std::string> serviceAccessFromEnvironment();

struct LatestIssue {
    enum class State : std::uint8_t { ready, waiting, disabled };
    State state = State::waiting;
    std::string issue;
    // The absolute address of the issue's PDF on the service's origin.
    std::string pdfUrl;
    std::string sha256;
    int pages = 0;
};

// Every request to the service goes out with the key and nowhere else.
std::vector<std::string> serviceHeaders(const ServiceAccess& access);

// GET /api/v1/delivery/latest?max_pages=N; the reader's message on failure.
std::variant<LatestIssue, std::string> askLatest(Http& http, const ServiceAccess& access,
                                                 int maxPages);

// The service's 200 answer to the request at `requestUrl`; the reader's
// message when it names no usable issue.
std::variant<LatestIssue, std::string>
readLatestAnswer(std::string_view body, const ServiceAccess& access, const std::string& requestUrl);

// The message for a service answer other than 200.
std::string serviceRefusal(const Http& http, long status);

} // namespace quillo::companion
