// What the tool has done, so it never does it twice: the issues printed per
// feed and the last upload per display webhook, under
// $XDG_STATE_HOME/quillo/ (~/.local/state/quillo/). Every change is on disk
// before the tool acts on it.
#pragma once

#include "companion/Files.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace quillo::companion {

class Records {
public:
    // Opens the records folder and holds its lock until the object goes, so
    // two tool processes never print or upload the same thing together.
    Records();

    [[nodiscard]] const FileError& error() const { return error_; }

    // Nothing when the record cannot be read: then nothing may be printed.
    [[nodiscard]] std::optional<bool> printed(const std::string& feedKey,
                                              const std::string& issue) const;
    FileError markPrinted(const std::string& feedKey, const std::string& issue);
    FileError unmarkPrinted(const std::string& feedKey, const std::string& issue);

    // `webhookKey` is a digest of the address: the address is never stored.
    [[nodiscard]] bool uploaded(const std::string& webhookKey, const std::string& issue,
                                const std::string& imageSha256) const;
    FileError markUploaded(const std::string& webhookKey, const std::string& issue,
                           const std::string& imageSha256);

private:
    std::filesystem::path directory_;
    std::unique_ptr<FileLock> lock_;
    FileError error_;
};

std::filesystem::path stateDirectory();

} // namespace quillo::companion
