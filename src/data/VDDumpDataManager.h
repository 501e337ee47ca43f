#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Bytes.h"

namespace vd {

// Keeps the request and response bodies of tunnels as files, so a body view can show them again
// without asking the service. The stores of all windows share one folder and one serial queue and
// tell their files apart by the session string of their processor.
//
// Every call returns at once: the file work is queued on "VD.DumpDate.Queue" and runs there in
// the order it was asked for, so a read asked for after a store sees the stored bytes. Read
// completions run on the main queue.
class VDDumpDataManager {
public:
    // None when the file is missing or cannot be read.
    using Completion = std::function<void(std::optional<Bytes>)>;

    static std::shared_ptr<VDDumpDataManager> initWithSession(std::string session);

    VDDumpDataManager(const VDDumpDataManager&) = delete;
    VDDumpDataManager& operator=(const VDDumpDataManager&) = delete;

    const std::string& session() const { return session_; }

    void storeRequestData(Bytes data, std::int64_t recordId);
    void storeResponseData(Bytes data, std::int64_t recordId);
    // `direct` true is the request body, false the response body. Empty data stores nothing;
    // a session holding '/', '\\', ".." or a NUL is refused.
    void storeData(Bytes data, bool direct, std::int64_t recordId, std::string session);

    // An empty completion is allowed; the read still runs in its turn.
    void readRequestDataForRecord(std::int64_t recordId, Completion complete);
    void readResponseDataForRecord(std::int64_t recordId, Completion complete);
    void readDataForRecord(std::int64_t recordId, bool direct, Completion complete);
    void readDataForRecordDirectAndSession(std::int64_t recordId, bool direct, const std::string& session, Completion complete);

    // ".../VantorDashboard/Dump" in the user's caches folder; none only when the program's own
    // caches folder cannot be had. The first call of any operation sets up folder and queue.
    static std::optional<std::filesystem::path> dumpFolder();
    // Removes everything inside the dump folder, in its turn on the queue, ignoring failures.
    static void cleanDumpFolder();

    // Moves the shared dump folder to "Dump" inside `tmpFolder` (none: no folder, so stores do
    // nothing and reads yield none) and returns the new dump folder. The folder is otherwise
    // fixed for the life of the process, so tests and tools that must stay out of the user's
    // caches call this before anything else; work already queued keeps the folder it was asked
    // for.
    static std::optional<std::filesystem::path> setUpDumpFolderIn(const std::optional<std::filesystem::path>& tmpFolder);

private:
    explicit VDDumpDataManager(std::string session);

    std::string session_;
};

} // namespace vd
