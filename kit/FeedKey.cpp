#include "kit/FeedKey.h"

#include "kit/Sha256.h"

namespace quillo {

std::string feedKey(std::string_view origin, std::string_view deliveryKey) {
    const auto start = origin.find_first_not_of('/');
    origin = start == std::string_view::npos ? std::string_view() : origin.substr(start);
    origin = origin.substr(0, origin.find_last_not_of('/') + 1);
    std::string material;
    material.reserve(origin.size() + 1 + deliveryKey.size());
    material.append(origin).append(1, '\n').append(deliveryKey);
    return Sha256::hex(material);
}

} // namespace quillo
