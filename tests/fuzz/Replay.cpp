// Runs a fuzz target over every file named, and every file in every folder
// named, without libFuzzer: the seed corpus and past findings as a test.
#include "tests/fuzz/FuzzTarget.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<std::filesystem::path> inputs(const std::filesystem::path& named) {
    if (!std::filesystem::is_directory(named)) {
        return {named};
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(named)) {
        if (entry.is_regular_file() && !entry.path().filename().string().starts_with('.')) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

int main(int argc, char** argv) {
    std::size_t replayed = 0;
    for (int index = 1; index < argc; ++index) {
        // A target without findings has no regressions folder.
        if (!std::filesystem::exists(argv[index])) {
            continue;
        }
        for (const auto& path : inputs(argv[index])) {
            std::ifstream file(path, std::ios::binary);
            const std::string content{std::istreambuf_iterator<char>(file), {}};
            if (!file.good() && !file.eof()) {
                std::fprintf(stderr, "cannot read %s\n", path.c_str());
                return 1;
            }
            std::fprintf(stderr, "%s\n", path.c_str());
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(content.data()),
                                   content.size());
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    // An empty seed corpus would make the test pass while guarding nothing.
    return replayed > 0 ? 0 : 1;
}
