// The file work shared by the feed cache and the records: private folders,
// whole-file writes that a crash cannot leave half done, and locks between
// tool processes that run at the same time.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quillo::companion {

// A failure's description for the reader, or nothing on success.
using FileError = std::optional<std::string>;

// $HOME, or the account's home folder when HOME is unset or relative.
std::filesystem::path homeDirectory();

// Creates every missing folder of `path` with mode 0700 and makes the last one
// 0700 whatever it was.
FileError makePrivateDirectory(const std::filesystem::path& path);

// Replaces `path` by `content` (mode 0600): a temporary file in the same
// folder, flushed to disk, renamed over it, and the folder flushed too.
FileError writeAtomically(const std::filesystem::path& path, std::string_view content);

// Flushes a folder, so that renames and removals in it survive a crash.
FileError syncDirectory(const std::filesystem::path& path);

// The whole file when it exists, is a regular file (not a link, nor a FIFO,
// which is refused without waiting) and holds at most `limit` bytes.
std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t limit);

// "Could not <what>: <reason>" for the current errno.
std::string systemFailure(std::string_view what);

// An exclusive lock on a lock file, held until the object goes.
class FileLock {
public:
    explicit FileLock(const std::filesystem::path& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    [[nodiscard]] const FileError& error() const { return error_; }

private:
    int descriptor_ = -1;
    FileError error_;
};

} // namespace quillo::companion
