// The service's answer to the latest-issue request, as the companion tool
// reads it.
#include "companion/Service.h"
#include "tests/fuzz/FuzzTarget.h"

#include <nlohmann/json.hpp>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillo::companion;
    static const ServiceAccess access = [] {
        ServiceAccess made;
        made.address = "https://news.example";
        made.origin = "https://news.example:443";
        made.parsedOrigin = parseAddress(made.address).value();
        made.token = "fuzz-key";
        return made;
    }();
    const std::string_view body = quillo::fuzz::bytes(data, size);
    const auto answer =
        readLatestAnswer(body, access, access.origin + "/api/v1/delivery/latest?max_pages=4");
    const auto* latest = std::get_if<LatestIssue>(&answer);
    if (latest == nullptr || latest->state != LatestIssue::State::ready) {
        return 0;
    }
    using quillo::fuzz::require;
    require(isIssueId(latest->issue) && isSha256Hex(latest->sha256), "the id and digest are valid");
    require(nlohmann::json::parse(body)["pages"] == latest->pages && latest->pages >= 1 &&
                latest->pages <= 4,
            "the page count is the service's own, 1 to 4");
    const auto target = parseAddress(latest->pdfUrl);
    require(target && !target->hasUserInfo && sameOrigin(*target, access.parsedOrigin),
            "the PDF comes from the service's own site");
    return 0;
}
