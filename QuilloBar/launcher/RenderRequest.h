// The render request as render mode reads it from standard input.
#pragma once

#include "kit/DeliveryKit.h"

#include <string>
#include <string_view>

namespace quillo {

struct RenderRequest {
    std::string pdf;    // file-system paths, relative to the working directory
    std::string output; // when not absolute
    DisplayModel model = DisplayModel::og;
};

enum class RenderRequestParse { valid, notJson, malformed };

struct RenderRequestReading {
    RenderRequestParse outcome = RenderRequestParse::malformed;
    RenderRequest request; // when valid
    std::string failure;   // when notJson: the JSON parser's own description
};

// Standard JSON whose top level is an object or an array. The object's "pdf",
// "output" and "model" are looked at in that order; a member of the wrong type
// counts as missing, and the model's raw value must match exactly.
RenderRequestReading readRenderRequest(std::string_view input);

} // namespace quillo
