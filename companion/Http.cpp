#include "companion/Http.h"

#include "companion/Version.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <unistd.h>

namespace quillo::companion {
namespace {

constexpr long connectTimeLimit = 15;

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using Url = std::unique_ptr<CURLU, UrlDeleter>;

struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

std::optional<std::string> part(CURLU* url, CURLUPart which, unsigned int flags = 0) {
    char* value = nullptr;
    if (curl_url_get(url, which, &value, flags) != CURLUE_OK || value == nullptr) {
        return std::nullopt;
    }
    std::string text(value);
    curl_free(value);
    return text;
}

Url parsed(std::string_view base, std::optional<std::string_view> reference) {
    Url url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, std::string(base).c_str(),
                             CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
        return nullptr;
    }
    if (reference && curl_url_set(url.get(), CURLUPART_URL, std::string(*reference).c_str(),
                                  CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
        return nullptr;
    }
    return url;
}

std::string lowercaseHost(std::string host) {
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!host.empty() && host.back() == '.') {
        host.pop_back();
    }
    return host;
}

void initializeCurlOnce() {
    static const bool initialized = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)initialized;
}

std::string capitalized(std::string text) {
    if (!text.empty()) {
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    }
    return text;
}

} // namespace

std::optional<Address> parseAddress(std::string_view url) {
    const Url parsedUrl = parsed(url, std::nullopt);
    if (!parsedUrl) {
        return std::nullopt;
    }
    auto scheme = part(parsedUrl.get(), CURLUPART_SCHEME);
    auto host = part(parsedUrl.get(), CURLUPART_HOST);
    auto port = part(parsedUrl.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (!scheme || !host || host->empty()) {
        return std::nullopt;
    }
    Address address{lowercaseHost(*scheme), lowercaseHost(*host),
                    port ? std::atoi(port->c_str()) : 0,
                    part(parsedUrl.get(), CURLUPART_USER).has_value() ||
                        part(parsedUrl.get(), CURLUPART_PASSWORD).has_value()};
    return address;
}

std::optional<std::string> resolveAddress(std::string_view base, std::string_view reference) {
    const Url url = parsed(base, reference);
    return url ? part(url.get(), CURLUPART_URL) : std::nullopt;
}

bool sameOrigin(const Address& a, const Address& b) {
    return a.scheme == b.scheme && a.host == b.host && a.port == b.port;
}

std::string normalisedOrigin(const Address& address) {
    const bool defaultPort = (address.scheme == "https" && address.port == 443) ||
                             (address.scheme == "http" && address.port == 80);
    return address.scheme + "://" + address.host +
           (defaultPort || address.port == 0 ? "" : ":" + std::to_string(address.port));
}

std::optional<std::string> normalisedUrl(std::string_view url) {
    const Url parsedUrl = parsed(url, std::nullopt);
    const auto address = parseAddress(url);
    if (!parsedUrl || !address) {
        return std::nullopt;
    }
    std::string path = part(parsedUrl.get(), CURLUPART_PATH).value_or("");
    while (path.ends_with('/')) {
        path.pop_back();
    }
    const auto query = part(parsedUrl.get(), CURLUPART_QUERY);
    return normalisedOrigin(*address) + path + (query ? "?" + *query : "");
}

bool isTrmnlHost(std::string_view host) {
    const std::string name = lowercaseHost(std::string(host));
    for (const std::string_view domain : {"trmnl.com", "usetrmnl.com"}) {
        if (name == domain || (name.size() > domain.size() && name.ends_with(domain) &&
                               name[name.size() - domain.size() - 1] == '.')) {
            return true;
        }
    }
    return false;
}

bool mayFollowWebhookRedirect(std::string_view from, std::string_view to) {
    const auto source = parseAddress(from);
    const auto target = parseAddress(to);
    if (!source || !target || target->scheme != "https" || target->hasUserInfo) {
        return false;
    }
    return target->host == source->host || isTrmnlHost(target->host);
}

// Where a response's body goes: kept in memory up to a limit, or streamed into
// a file descriptor while hashed. A non-2xx body is read and dropped.
struct Http::Sink {
    CURL* handle = nullptr;
    std::size_t limit = 0;
    std::size_t received = 0;
    std::string* memory = nullptr;
    int descriptor = -1;
    Sha256::Hasher* hasher = nullptr;
    bool tooLarge = false;
    int writeError = 0;

    static size_t write(char* data, size_t size, size_t count, void* user) {
        auto& sink = *static_cast<Sink*>(user);
        const std::size_t length = size * count;
        long status = 0;
        curl_easy_getinfo(sink.handle, CURLINFO_RESPONSE_CODE, &status);
        const bool keep = sink.memory != nullptr || (sink.descriptor >= 0 && status / 100 == 2);
        if (!keep) {
            return length;
        }
        if (length > sink.limit - sink.received) {
            sink.tooLarge = true;
            return 0;
        }
        sink.received += length;
        if (sink.memory != nullptr) {
            sink.memory->append(data, length);
            return length;
        }
        sink.hasher->update({data, length});
        std::string_view rest(data, length);
        while (!rest.empty()) {
            const ssize_t written = ::write(sink.descriptor, rest.data(), rest.size());
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                sink.writeError = written < 0 ? errno : ENOSPC;
                return 0;
            }
            rest.remove_prefix(static_cast<std::size_t>(written));
        }
        return length;
    }
};

void Http::Free::operator()(void* handle) const {
    curl_easy_cleanup(static_cast<CURL*>(handle));
}

Http::Http(std::string peer, std::chrono::seconds timeLimit)
    : peer_(std::move(peer)), timeLimit_(timeLimit) {
    initializeCurlOnce();
    handle_.reset(curl_easy_init());
}

Http::~Http() = default;

HttpResponse Http::get(const std::string& url, const std::vector<std::string>& headers,
                       std::size_t limit) {
    std::string body;
    Sink sink;
    sink.limit = limit;
    sink.memory = &body;
    HttpResponse response = perform(url, headers, sink, std::nullopt);
    response.body = std::move(body);
    return response;
}

HttpResponse Http::download(const std::string& url, const std::vector<std::string>& headers,
                            int descriptor, std::size_t limit, Sha256::Hasher& hasher) {
    Sink sink;
    sink.limit = limit;
    sink.descriptor = descriptor;
    sink.hasher = &hasher;
    return perform(url, headers, sink, std::nullopt);
}

HttpResponse Http::post(const std::string& url, const std::vector<std::string>& headers,
                        std::string_view body) {
    // The answer's body says nothing the status does not: it is dropped.
    Sink sink;
    return perform(url, headers, sink, body);
}

HttpResponse Http::perform(const std::string& url, const std::vector<std::string>& headers,
                           Sink& sink, std::optional<std::string_view> postBody) {
    auto* handle = static_cast<CURL*>(handle_.get());
    if (handle == nullptr) {
        return {"Could not start a connection to " + peer_};
    }
    // A reset keeps the open connection and TLS session for the next request.
    curl_easy_reset(handle);
    curl_slist* list = nullptr;
    for (const std::string& header : headers) {
        curl_slist* extended = curl_slist_append(list, header.c_str());
        if (extended == nullptr) {
            curl_slist_free_all(list);
            return {"Could not prepare the request to " + peer_};
        }
        list = extended;
    }
    const std::unique_ptr<curl_slist, HeaderListDeleter> headerList(list);
    sink.handle = handle;
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, connectTimeLimit);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, static_cast<long>(timeLimit_.count()));
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "quillo-print/" QUILLO_VERSION);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Sink::write);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
    if (sink.limit > 0) {
        curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(sink.limit));
    }
    // The curl convention, which libcurl itself leaves to its command-line tool.
    if (const char* bundle = std::getenv("CURL_CA_BUNDLE"); bundle != nullptr && *bundle != 0) {
        curl_easy_setopt(handle, CURLOPT_CAINFO, bundle);
    }
    if (postBody) {
        curl_easy_setopt(handle, CURLOPT_POST, 1L);
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, postBody->data());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(postBody->size()));
    }

    const CURLcode code = curl_easy_perform(handle);
    HttpResponse response;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &response.status);
    if (sink.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        response.tooLarge = true;
        return response;
    }
    if (sink.writeError != 0) {
        response.failure =
            "Could not write what " + peer_ + " sent: " + std::strerror(sink.writeError);
        return response;
    }
    if (code != CURLE_OK) {
        response.failure = describe(code);
        return response;
    }
    char* location = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_REDIRECT_URL, &location) == CURLE_OK &&
        location != nullptr) {
        response.location = location;
    }
    return response;
}

std::string Http::answered(long status) const {
    return capitalized(peer_) + " answered HTTP " + std::to_string(status);
}

std::string Http::describe(int code) const {
    switch (static_cast<CURLcode>(code)) {
    case CURLE_UNSUPPORTED_PROTOCOL:
        return "Only HTTPS addresses are used for " + peer_;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return "Could not find " + peer_ + " on the network; check the internet connection";
    case CURLE_COULDNT_CONNECT:
        return "Could not connect to " + peer_;
    case CURLE_OPERATION_TIMEDOUT:
        return capitalized(peer_) + " did not answer in time";
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return "Could not verify the certificate of " + peer_;
    case CURLE_SSL_CONNECT_ERROR:
        return "Could not make a secure connection to " + peer_;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        return "The connection to " + peer_ + " broke off";
    default:
        return "The request to " + peer_ + " failed (curl error " + std::to_string(code) + ")";
    }
}

} // namespace quillo::companion
