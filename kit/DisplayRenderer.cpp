#include "kit/DisplayRenderer.h"

namespace quillo::DisplayRenderer {

void render(const std::filesystem::path&, const std::filesystem::path&, DisplayModel) {
    throw DisplayError(DisplayError::render);
}

} // namespace quillo::DisplayRenderer
