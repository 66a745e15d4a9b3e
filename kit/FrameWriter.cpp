#include "kit/FrameWriter.h"

#include "kit/MuPdfCall.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace quillo::kit {
namespace {

// A temporary file beside the destination, removed unless it is renamed over
// the destination: a failed write never touches an existing frame.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::filesystem::path& destination) {
        if (destination.native().find('\0') != std::string::npos) {
            fail(DisplayError::render);
        }
        const auto directory =
            destination.has_parent_path() ? destination.parent_path() : std::filesystem::path(".");
        // Short, so that a destination name of the longest length still has one.
        std::string pattern = (directory / ".frame-XXXXXX").string();
        // mkostemp creates the file with mode 0600, so the frame is never
        // readable by others, not even while it is being written.
        const int descriptor = mkostemp(pattern.data(), O_CLOEXEC);
        if (descriptor < 0) {
            fail(DisplayError::render);
        }
        path_ = pattern;
        file_ = fdopen(descriptor, "wb");
        if (file_ == nullptr) {
            ::close(descriptor);
            std::remove(path_.c_str());
            fail(DisplayError::render);
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
        if (!path_.empty()) {
            std::remove(path_.c_str());
        }
    }

    [[nodiscard]] std::FILE* file() const { return file_; }

    void setOwnerOnlyMode() const {
        if (::fchmod(fileno(file_), S_IRUSR | S_IWUSR) != 0) {
            throw std::system_error(errno, std::generic_category(),
                                    "Could not set the display frame’s permissions");
        }
    }

    void close() {
        std::FILE* file = std::exchange(file_, nullptr);
        if (std::fclose(file) != 0) {
            fail(DisplayError::save);
        }
    }

    void replace(const std::filesystem::path& destination) {
        if (std::rename(path_.c_str(), destination.c_str()) != 0) {
            fail(DisplayError::save);
        }
        path_.clear();
    }

private:
    std::string path_;
    std::FILE* file_ = nullptr;
};

} // namespace

void writeFrame(const std::filesystem::path& to, int width, int height,
                const OneBitPng::Deflated& scanlines) {
    TemporaryFile temporary(to);
    if (!OneBitPng::write(temporary.file(), width, height, scanlines) ||
        std::fflush(temporary.file()) != 0 || std::ferror(temporary.file()) != 0) {
        fail(DisplayError::save);
    }
    temporary.setOwnerOnlyMode();
    temporary.close();
    temporary.replace(to);
}

} // namespace quillo::kit
