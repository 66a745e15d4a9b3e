// What the tool has done, so it never does it twice: each issue's place in
// the print protocol per service, and the last upload per display webhook,
// under $XDG_STATE_HOME/quillo/ (~/.local/state/quillo/). Records are named by
// a digest of the service's or webhook's normalised address, never by the
// delivery key: a new key, or the address spelled another way, finds them.
// Every change is on disk before the tool acts on it.
#pragma once

#include "companion/Files.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillo::companion {

// One issue's line in the record of printed issues: "<issue>" once printed,
// else "<issue> <state> <job>".
struct PrintRecord {
    enum class State : std::uint8_t {
        // Never recorded: not printed.
        none,
        // About to ask CUPS for a held job, whose id is not known yet.
        creating,
        // Job `job` was created held and never released; its document may
        // not be whole.
        held,
        // Job `job` holds the whole document and its release was asked for:
        // it may have printed. Written "sent", as earlier versions did.
        releasing,
        // CUPS took it to print.
        printed,
        // CUPS lost or cancelled job `job` after its release was asked for.
        lost,
        // A newer issue was printed first: the held copy `job` was cancelled
        // unprinted. Printed anew should the service name this issue again.
        withdrawn,
    };
    State state = State::none;
    int job = 0;
};

// An issue whose job a run left unfinished, to be settled by a later one.
struct UnsettledJob {
    std::string issue;
    PrintRecord record;
};

class Records {
public:
    // Opens the records folder and holds its lock until the object goes, so
    // two tool processes never print or upload the same thing together.
    Records();

    [[nodiscard]] const FileError& error() const { return error_; }

    // What an earlier version recorded under `legacyKey` (the feed key, or
    // the digest of the webhook as written) joins the record under `key`.
    FileError movePrintedForward(const std::string& legacyKey, const std::string& key) {
        return moveForward("printed", legacyKey, key);
    }
    FileError moveUploadForward(const std::string& legacyKey, const std::string& key) {
        return moveForward("uploads", legacyKey, key);
    }

    // Nothing when the record cannot be read: then nothing may be printed.
    [[nodiscard]] std::optional<PrintRecord> printRecord(const std::string& serviceKey,
                                                         const std::string& issue) const;
    // The issues of this service left creating, held or releasing; nothing
    // when the record cannot be read.
    [[nodiscard]] std::optional<std::vector<UnsettledJob>>
    unsettledJobs(const std::string& serviceKey) const;
    FileError setPrintRecord(const std::string& serviceKey, const std::string& issue,
                             const PrintRecord& record);

    [[nodiscard]] bool uploaded(const std::string& webhookKey, const std::string& issue,
                                const std::string& imageSha256) const;
    FileError markUploaded(const std::string& webhookKey, const std::string& issue,
                           const std::string& imageSha256);

private:
    FileError moveForward(const char* folder, const std::string& legacyKey, const std::string& key);

    std::filesystem::path directory_;
    std::unique_ptr<FileLock> lock_;
    FileError error_;
};

std::filesystem::path stateDirectory();

} // namespace quillo::companion
