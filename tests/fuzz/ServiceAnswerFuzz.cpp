// The service's answer to the latest-issue request, as the companion tool
// reads it.
#include "companion/Service.h"
#include "tests/fuzz/FuzzTarget.h"

#include <nlohmann/json.hpp>

void quillo::fuzz::testOne(std::string_view body) {
    using namespace companion;
    static const ServiceAccess access{"https://news.example", "https://news.example:443",
                                      parseAddress("https://news.example").value(), "fuzz-key"};
    const auto answer =
        readLatestAnswer(body, access, access.origin + "/api/v1/delivery/latest?max_pages=4");
    const auto* latest = std::get_if<LatestIssue>(&answer);
    if (latest == nullptr || latest->state != LatestIssue::State::ready) {
        return;
    }
    require(isIssueId(latest->issue) && isSha256Hex(latest->sha256), "the id and digest are valid");
    require(nlohmann::json::parse(body)["pages"] == latest->pages && latest->pages >= 1 &&
                latest->pages <= 4,
            "the page count is the service's own, 1 to 4");
    const auto target = parseAddress(latest->pdfUrl);
    require(target && !target->hasUserInfo && sameOrigin(*target, access.parsedOrigin),
            "the PDF comes from the service's own site");
}
