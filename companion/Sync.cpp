#include "companion/Sync.h"

#include "companion/Http.h"
#include "companion/Records.h"
#include "kit/Sha256.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>

namespace quillo::companion {
namespace {

constexpr std::chrono::seconds uploadTimeLimit{60};
constexpr std::size_t frameLimit = std::size_t{8} << 20;
constexpr int maximumRedirects = 3;
constexpr std::array<long, 5> redirectStatuses{301, 302, 303, 307, 308};

std::uint32_t bigEndian(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t index = 0; index < 4; ++index) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + index]);
    }
    return value;
}

} // namespace

bool isOneBitFrame(std::string_view png, int width, int height) {
    constexpr std::string_view signature("\x89PNG\r\n\x1a\n", 8);
    return png.size() >= 33 && png.starts_with(signature) && bigEndian(png, 8) == 13 &&
           png.substr(12, 4) == "IHDR" && bigEndian(png, 16) == static_cast<std::uint32_t>(width) &&
           bigEndian(png, 20) == static_cast<std::uint32_t>(height) && png[24] == 1 && png[25] == 0;
}

Outcome sync(const SyncRequest& request) {
    const char* variable = std::getenv("QUILLO_EINK_WEBHOOK");
    const std::string webhook = variable != nullptr ? variable : "";
    if (webhook.empty()) {
        return failed("No display webhook was given; add it in Quillo's settings");
    }
    const auto address = parseAddress(webhook);
    if (!address || address->scheme != "https") {
        return failed("The display webhook must use HTTPS");
    }
    const auto frame = readSmallFile(request.image, frameLimit);
    const std::string size = std::to_string(request.width) + " × " + std::to_string(request.height);
    if (!frame || !isOneBitFrame(*frame, request.width, request.height)) {
        return failed("The display frame is not a 1-bit " + size + " PNG; nothing was uploaded");
    }
    const std::string frameDigest = Sha256::hex(*frame);

    Records records;
    if (records.error()) {
        return failed(*records.error());
    }
    // Named by the address as normalised, so another spelling finds it;
    // earlier versions named it by the address as written.
    const std::string webhookKey = Sha256::hex(normalisedUrl(webhook).value_or(webhook));
    if (auto error = records.moveUploadForward(Sha256::hex(webhook), webhookKey)) {
        return failed(*error + "; nothing was uploaded");
    }
    if (records.uploaded(webhookKey, request.issue, frameDigest)) {
        return done("already_synced");
    }

    Http http("TRMNL", uploadTimeLimit);
    // TRMNL's image webhook takes the PNG as the raw body.
    const std::vector<std::string> headers{"Content-Type: image/png", "Expect:"};
    std::string url = webhook;
    for (int hop = 0;; ++hop) {
        const HttpResponse response = http.post(url, headers, *frame);
        if (response.failure) {
            return failed(*response.failure);
        }
        const long status = response.status;
        if (std::find(redirectStatuses.begin(), redirectStatuses.end(), status) !=
            redirectStatuses.end()) {
            if (response.location.empty()) {
                return failed(http.answered(status) + " without a new address");
            }
            if (hop == maximumRedirects) {
                return failed(http.answered(status) + ": more than " +
                              std::to_string(maximumRedirects) + " redirects");
            }
            if (!mayFollowWebhookRedirect(url, response.location)) {
                return failed(http.answered(status) +
                              ", a redirect to another site; nothing was sent there");
            }
            url = response.location;
            continue;
        }
        if (status / 100 == 2) {
            break;
        }
        if (status == 429) {
            return failed("TRMNL is limiting uploads; the next check tries again");
        }
        if (status == 401 || status == 403 || status == 404) {
            return failed(http.answered(status) + "; check the display webhook in Settings");
        }
        return failed(http.answered(status));
    }
    if (auto error = records.markUploaded(webhookKey, request.issue, frameDigest)) {
        return done("Uploaded the frame; it could not be recorded");
    }
    return done("Uploaded the frame");
}

} // namespace quillo::companion
