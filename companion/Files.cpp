#include "companion/Files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillo::companion {
namespace {

bool writeAll(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

} // namespace

std::string systemFailure(std::string_view what) {
    return "Could not " + std::string(what) + ": " + std::strerror(errno);
}

std::filesystem::path homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return home;
    }
    const passwd* account = ::getpwuid(::getuid());
    return account != nullptr && account->pw_dir != nullptr ? account->pw_dir : "/";
}

FileError makePrivateDirectory(const std::filesystem::path& path) {
    std::filesystem::path partial;
    for (const auto& component : path) {
        partial /= component;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            return systemFailure("create the folder " + partial.string());
        }
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return "Could not create the folder " + path.string() + ": a file is in the way";
    }
    if ((status.st_mode & 07777) != 0700 && ::chmod(path.c_str(), 0700) != 0) {
        return systemFailure("make the folder " + path.string() + " private");
    }
    return std::nullopt;
}

FileError syncDirectory(const std::filesystem::path& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        return systemFailure("open the folder " + path.string());
    }
    const bool synced = ::fsync(descriptor) == 0;
    ::close(descriptor);
    if (!synced) {
        return systemFailure("flush the folder " + path.string());
    }
    return std::nullopt;
}

FileError writeAtomically(const std::filesystem::path& path, std::string_view content) {
    // A leading dot keeps the temporary file apart from issue files.
    std::string temporary = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX"));
    const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0) {
        return systemFailure("write " + path.string());
    }
    if (!writeAll(descriptor, content) || ::fsync(descriptor) != 0) {
        FileError error = systemFailure("write " + path.string());
        ::close(descriptor);
        ::unlink(temporary.c_str());
        return error;
    }
    ::close(descriptor);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        FileError error = systemFailure("write " + path.string());
        ::unlink(temporary.c_str());
        return error;
    }
    return syncDirectory(path.parent_path());
}

std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t limit) {
    // A FIFO would block the tool while it holds its lock, and a link may
    // point anywhere: only a regular file is read.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
        return std::nullopt;
    }
    std::optional<std::string> content;
    struct stat status {};
    if (::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) &&
        static_cast<std::size_t>(status.st_size) <= limit) {
        content.emplace(static_cast<std::size_t>(status.st_size), '\0');
        std::size_t filled = 0;
        while (filled < content->size()) {
            const ssize_t count =
                ::read(descriptor, content->data() + filled, content->size() - filled);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                break;
            }
            filled += static_cast<std::size_t>(count);
        }
        content->resize(filled);
    }
    ::close(descriptor);
    return content;
}

FileLock::FileLock(const std::filesystem::path& path)
    : descriptor_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (descriptor_ < 0) {
        error_ = systemFailure("open the lock file " + path.string());
        return;
    }
    while (::flock(descriptor_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            error_ = systemFailure("lock " + path.string());
            return;
        }
    }
}

FileLock::~FileLock() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

} // namespace quillo::companion
