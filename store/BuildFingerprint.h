// Identifies the exact build that is running, so that unattended keyring use
// can be tied to the build the reader last authorized.
#pragma once

#include <QString>
#include <filesystem>

namespace quillo {

// Lowercase hex SHA-256 of bin/quillo-bar followed by share/quillo/build-manifest
// (the list of digests of every other shipped file), both under the install
// root of the running process. A file that cannot be read counts as empty.
QString buildFingerprint();

// The same, for the install tree at root.
QString buildFingerprint(const std::filesystem::path& root);

} // namespace quillo
