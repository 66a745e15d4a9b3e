// Lays numbered objects out as a PDF file with its cross-reference table.
// Object 1 must be the catalog. Shared by the test fixtures and the benchmarks.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace quillo::testing {

inline std::string assemblePdf(const std::vector<std::string>& objects) {
    std::string file = "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n";
    std::vector<std::size_t> offsets;
    for (std::size_t index = 0; index < objects.size(); ++index) {
        offsets.push_back(file.size());
        file += std::to_string(index + 1) + " 0 obj\n" + objects[index] + "\nendobj\n";
    }
    const std::size_t xref = file.size();
    file += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const std::size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        file += line;
    }
    file += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
            " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return file;
}

} // namespace quillo::testing
