#pragma once

#include <string>

namespace quillo::sample {

// The bytes of a dense newspaper-like issue of 1 to 4 US Letter pages.
std::string denseIssuePdf(int pageCount);

} // namespace quillo::sample
