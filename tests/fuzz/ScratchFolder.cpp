#include "tests/fuzz/FuzzTarget.h"

#include <string>
#include <system_error>

namespace quillo::fuzz {

ScratchFolder::ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillo-fuzz.XXXXXX").string();
    require(::mkdtemp(pattern.data()) != nullptr, "a scratch folder can be made");
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace quillo::fuzz
