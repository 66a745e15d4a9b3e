#include "kit/FeedKey.h"

#include "kit/Sha256.h"

namespace quillo {

std::string_view withoutSurroundingSlashes(std::string_view text) {
    const auto start = text.find_first_not_of('/');
    return start == std::string_view::npos
               ? std::string_view()
               : text.substr(start, text.find_last_not_of('/') + 1 - start);
}

std::string feedKey(std::string_view origin, std::string_view deliveryKey) {
    origin = withoutSurroundingSlashes(origin);
    std::string material;
    material.reserve(origin.size() + 1 + deliveryKey.size());
    material.append(origin).append(1, '\n').append(deliveryKey);
    return Sha256::hex(material);
}

} // namespace quillo
