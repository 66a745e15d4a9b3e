// HTTPS through libcurl, with the tool's own rules: HTTPS only, no redirect
// followed by libcurl itself, fixed time limits, CURL_CA_BUNDLE honoured, and
// failure messages of our own that never repeat an address (curl's own texts
// may hold a URL, and a URL may hold a secret).
#pragma once

#include "kit/Sha256.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillo::companion {

struct Address {
    std::string scheme;
    std::string host;
    int port = 0;
    bool hasUserInfo = false;
};

// Parses an absolute URL; `reference` is resolved against `base` first when
// given (a redirect's Location, an issue's path).
std::optional<Address> parseAddress(std::string_view url);
std::optional<std::string> resolveAddress(std::string_view base, std::string_view reference);

bool sameOrigin(const Address& a, const Address& b);

// scheme://host[:port] in lower case, the port only when it is not the
// scheme's own, an IPv6 host in brackets: one spelling per origin.
std::string normalisedOrigin(const Address& address);

// The normalised origin followed by the path without its trailing "/" and
// the query: one spelling per webhook.
std::optional<std::string> normalisedUrl(std::string_view url);

// TRMNL serves webhooks from trmnl.com and formerly usetrmnl.com: a host in
// either domain.
bool isTrmnlHost(std::string_view host);

// Whether an upload that `from` redirected to `to` may follow: only to https,
// without user information, on the same host or in one of TRMNL's domains.
bool mayFollowWebhookRedirect(std::string_view from, std::string_view to);

struct HttpResponse {
    // The reader's message when no answer came; then the rest is empty.
    std::optional<std::string> failure;
    long status = 0;
    std::string body;
    // A redirect's target, resolved against the request's address.
    std::string location;
    // The body did not fit the limit; nothing more was kept.
    bool tooLarge = false;
};

class Http {
public:
    // `peer` names the other side in messages ("the service", "TRMNL").
    Http(std::string peer, std::chrono::seconds timeLimit);
    ~Http();
    Http(const Http&) = delete;
    Http& operator=(const Http&) = delete;

    HttpResponse get(const std::string& url, const std::vector<std::string>& headers,
                     std::size_t limit);
    // Streams a 2xx body into `descriptor`, hashing it on the way.
    HttpResponse download(const std::string& url, const std::vector<std::string>& headers,
                          int descriptor, std::size_t limit, Sha256::Hasher& hasher);
    HttpResponse post(const std::string& url, const std::vector<std::string>& headers,
                      std::string_view body);

    // "The service answered HTTP 503", and the like.
    [[nodiscard]] std::string answered(long status) const;

private:
    struct Sink;
    HttpResponse perform(const std::string& url, const std::vector<std::string>& headers,
                         Sink& sink, std::optional<std::string_view> postBody);
    [[nodiscard]] std::string describe(int code) const;

    struct Free {
        void operator()(void* handle) const;
    };
    std::unique_ptr<void, Free> handle_;
    std::string peer_;
    std::chrono::seconds timeLimit_;
};

} // namespace quillo::companion
