// The render request as render mode uses it, parsed by the request module.
#pragma once

#include "kit/DeliveryKit.h"

#include <cstddef>
#include <string>

namespace quillo {

struct RenderRequest {
    std::string pdf;    // file-system paths, relative to the working directory
    std::string output; // when not absolute
    DisplayModel model = DisplayModel::og;
};

enum class RenderRequestParse { valid, notJson, malformed };

// Exported by lib/quillo/libquillo-request.so. On notJson, `failure` holds the
// JSON parser's own description of the error.
using ParseRenderRequest = RenderRequestParse(const char* input, std::size_t size,
                                              RenderRequest& request, std::string& failure);
inline constexpr const char* parseRenderRequestEntry = "quilloParseRenderRequest";

} // namespace quillo
