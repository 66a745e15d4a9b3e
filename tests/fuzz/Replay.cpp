// Runs a fuzz target over every file in the folders named, without
// libFuzzer: the seed corpus and past findings as a test.
#include "tests/fuzz/FuzzTarget.h"

#include <iterator>
#include <set>

int main(int argc, char** argv) {
    // Sorted, so a failing run names the same input every time.
    std::set<std::filesystem::path> inputs;
    for (int index = 1; index < argc; ++index) {
        // A target without findings has no regressions folder.
        std::error_code missing;
        for (const auto& entry : std::filesystem::directory_iterator(argv[index], missing)) {
            inputs.insert(entry.path());
        }
    }
    for (const auto& path : inputs) {
        std::fprintf(stderr, "%s\n", path.c_str());
        std::ifstream file(path, std::ios::binary);
        quillo::fuzz::require(file.is_open(), "every input can be read");
        const std::string content{std::istreambuf_iterator<char>(file), {}};
        quillo::fuzz::testOne(content);
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    // An empty seed corpus would make the test pass while guarding nothing.
    return inputs.empty() ? 1 : 0;
}
