#include "companion/Service.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>

namespace quillo::companion {
namespace {

constexpr std::size_t answerLimit = std::size_t{64} << 10;

const std::string keyRefused =
    "The service did not accept the delivery key; get a new one in your newsroom";

std::variant<LatestIssue, std::string> readyIssue(const nlohmann::json& answer,
                                                  const ServiceAccess& access,
                                                  const std::string& requestUrl) {
    const auto text = [&](const char* key) -> std::string {
        const auto member = answer.find(key);
        return member != answer.end() && member->is_string() ? member->get<std::string>()
                                                             : std::string();
    };
    LatestIssue latest;
    latest.state = LatestIssue::State::ready;
    latest.issue = text("issue");
    if (!isIssueId(latest.issue)) {
        return std::string("The service named an issue whose id cannot be used");
    }
    latest.sha256 = text("sha256");
    if (!isSha256Hex(latest.sha256)) {
        return std::string("The service gave no valid SHA-256 for issue ") + latest.issue;
    }
    // Read at full width: narrowed to int first, 4294967297 would pass as 1.
    const auto pages = answer.find("pages");
    const std::int64_t count =
        pages != answer.end() && pages->is_number_integer() ? pages->get<std::int64_t>() : 0;
    if (count < 1 || count > 4) {
        return std::string("The service gave no valid page count for issue ") + latest.issue;
    }
    latest.pages = static_cast<int>(count);
    // The key goes with the PDF request too, so it must stay on this origin.
    const std::string pdf = text("pdf");
    const auto resolved = pdf.empty() ? std::nullopt : resolveAddress(requestUrl, pdf);
    const auto target = resolved ? parseAddress(*resolved) : std::nullopt;
    if (!target || target->hasUserInfo || !sameOrigin(*target, access.parsedOrigin)) {
        return std::string("The service gave an address for issue ") + latest.issue +
               " outside its own site; it was not used";
    }
    latest.pdfUrl = *resolved;
    return latest;
}

} // namespace

bool isIssueId(std::string_view id) {
    return !id.empty() && id.size() <= 64 && id.front() != '.' &&
           std::all_of(id.begin(), id.end(), [](char c) {
               return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '_' || c == '-';
           });
}

bool isSha256Hex(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::variant<ServiceAccess, std::string> serviceAccessFromEnvironment() {
    ServiceAccess access;
    const char* address = std::getenv("QUILLO_URL");
    access.address = address != nullptr ? address : "";
    const auto parsed = parseAddress(access.address);
    if (!parsed || parsed->scheme != "https" || parsed->hasUserInfo) {
        return std::string("The service address must use HTTPS");
    }
    access.parsedOrigin = *parsed;
    // libcurl gives an IPv6 host in its brackets already.
    access.origin = "https://" + parsed->host + ":" + std::to_string(parsed->port);
    access.recordKey = Sha256::hex(normalisedOrigin(*parsed));
    const char* key = std::getenv("QUILLO_PRINT_TOKEN");
    access.deliveryKey = key != nullptr ? key : "";
    if (access.deliveryKey.empty()) {
        return std::string("No delivery key was given; add it in Quillo's settings");
    }
    // A line break in a header value would start a header of the key's making.
    if (std::any_of(access.deliveryKey.begin(), access.deliveryKey.end(),
                    [](unsigned char c) { return c < 0x20 || c == 0x7f; })) {
        return keyRefused;
    }
    return access;
}

std::vector<std::string> serviceHeaders(const ServiceAccess& access) {
    return {"Authorization: Bearer " + access.deliveryKey, "Accept: application/json"};
}

std::string serviceRefusal(const Http& http, long status) {
    if (status == 401 || status == 403) {
        return keyRefused;
    }
    if (status >= 300 && status < 400) {
        return http.answered(status) +
               " (a redirect); the delivery key is only sent to the service's own address";
    }
    if (status == 429 || status >= 500) {
        return http.answered(status) + "; the next check tries again";
    }
    return http.answered(status);
}

std::variant<LatestIssue, std::string> askLatest(Http& http, const ServiceAccess& access,
                                                 int maxPages) {
    const std::string url =
        access.origin + "/api/v1/delivery/latest?max_pages=" + std::to_string(maxPages);
    const HttpResponse response = http.get(url, serviceHeaders(access), answerLimit);
    if (response.failure) {
        return *response.failure;
    }
    if (response.tooLarge) {
        return std::string("The service's answer is too large");
    }
    if (response.status != 200) {
        return serviceRefusal(http, response.status);
    }
    return readLatestAnswer(response.body, access, url);
}

std::variant<LatestIssue, std::string> readLatestAnswer(std::string_view body,
                                                        const ServiceAccess& access,
                                                        const std::string& requestUrl) {
    const auto answer = nlohmann::json::parse(body, nullptr, false);
    if (!answer.is_object()) {
        return std::string("The service's answer is not a JSON object");
    }
    const auto state = answer.find("state");
    const std::string name =
        state != answer.end() && state->is_string() ? state->get<std::string>() : std::string();
    if (name == "waiting") {
        return LatestIssue{LatestIssue::State::waiting};
    }
    if (name == "disabled") {
        return LatestIssue{LatestIssue::State::disabled};
    }
    if (name != "ready") {
        return std::string("The service's answer has no state this version knows");
    }
    return readyIssue(answer, access, requestUrl);
}

} // namespace quillo::companion
