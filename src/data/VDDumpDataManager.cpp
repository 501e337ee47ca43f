#include "VDDumpDataManager.h"

#include <cerrno>
#include <mutex>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "data/AtomicFile.h"
#include "data/VDUtils.h"
#include "platform/DispatchQueue.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"

namespace vd {
namespace fs = std::filesystem;

namespace {

// The folder and the queue are shared by the stores of every window. The mutex only guards
// handing them out; the file work itself is serialised by the queue.
struct DumpPlace {
    std::once_flag once;
    std::mutex mutex;
    std::optional<fs::path> folder;
    std::shared_ptr<SerialQueue> queue;
};

// Never destroyed: this is made before the work pool, so at exit it would go after it, and the
// queue's strand must not outlive the pool it belongs to.
DumpPlace& place()
{
    static auto* p = new DumpPlace;
    return *p;
}

struct Snapshot {
    std::optional<fs::path> folder;
    std::shared_ptr<SerialQueue> queue;
};

// The dump holds captured traffic (cookies, tokens, bodies), so nobody else may look inside,
// whatever the umask or an older run left behind.
void makeOwnerOnlyFolder(const fs::path& folder)
{
    std::error_code ec;
    const auto existing = fs::symlink_status(folder, ec);
    if (existing.type() == fs::file_type::not_found) {
        fs::create_directories(folder.parent_path(), ec);
        ::mkdir(folder.c_str(), 0700);
    }
    // A plain file (or anything else) in the way stays untouched: work there simply fails.
    if (fs::symlink_status(folder, ec).type() == fs::file_type::directory)
        ::chmod(folder.c_str(), 0700);
}

void setUpLocked(DumpPlace& p, const std::optional<fs::path>& tmpFolder)
{
    if (!tmpFolder) {
        p.folder.reset();
        return;
    }
    // Made once and kept across moves of the folder, so there is only ever one order of work.
    if (!p.queue)
        p.queue = SerialQueue::create("VD.DumpDate.Queue");
    fs::path folder = *tmpFolder / "Dump";
    makeOwnerOnlyFolder(folder);
    p.folder = std::move(folder);
}

Snapshot current()
{
    auto& p = place();
    std::call_once(p.once, [&p] {
        std::lock_guard lock(p.mutex);
        setUpLocked(p, VDUtils::getAndCreateTmpFolder());
    });
    std::lock_guard lock(p.mutex);
    return {p.folder, p.queue};
}

// The session goes into a file name and may come from the network: anything that could
// step out of the dump folder or cut the name short is refused.
bool isPlainSession(std::string_view session)
{
    return session.find('/') == std::string_view::npos && session.find('\\') == std::string_view::npos &&
           session.find("..") == std::string_view::npos && session.find('\0') == std::string_view::npos;
}

std::string fileName(const std::string& session, bool direct, std::int64_t recordId)
{
    return session + (direct ? "_req_" : "_rsp_") + std::to_string(recordId) + "_dumpfile.bin";
}

std::optional<Bytes> loadFile(const fs::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    Bytes bytes(static_cast<std::size_t>(info.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(got);
    return bytes;
}

void deliver(VDDumpDataManager::Completion complete, std::optional<Bytes> bytes)
{
    if (!complete)
        return;
    MainQueue::shared()->async([complete = std::move(complete), bytes = std::move(bytes)]() mutable { complete(std::move(bytes)); });
}

} // namespace

std::shared_ptr<VDDumpDataManager> VDDumpDataManager::initWithSession(std::string session)
{
    return std::shared_ptr<VDDumpDataManager>(new VDDumpDataManager(std::move(session)));
}

VDDumpDataManager::VDDumpDataManager(std::string session) : session_(std::move(session)) {}

void VDDumpDataManager::storeRequestData(Bytes data, std::int64_t recordId)
{
    storeData(std::move(data), true, recordId, session_);
}

void VDDumpDataManager::storeResponseData(Bytes data, std::int64_t recordId)
{
    storeData(std::move(data), false, recordId, session_);
}

void VDDumpDataManager::storeData(Bytes data, bool direct, std::int64_t recordId, std::string session)
{
    if (data.empty())
        return;
    if (!isPlainSession(session)) {
        log::error("Dump store refused a session that is not a plain name");
        return;
    }
    auto [folder, queue] = current();
    if (!folder || !queue)
        return;
    // The bytes move into the task: a body of many MiB is never copied on its way to the file.
    // A reader never meets half a body, and a failed write leaves the previous body in place.
    queue->async([target = *folder / fileName(session, direct, recordId), data = std::move(data)] {
        writeFileAtomically(target, data, ExistingFile::replace);
    });
}

void VDDumpDataManager::readRequestDataForRecord(std::int64_t recordId, Completion complete)
{
    readDataForRecordDirectAndSession(recordId, true, session_, std::move(complete));
}

void VDDumpDataManager::readResponseDataForRecord(std::int64_t recordId, Completion complete)
{
    readDataForRecordDirectAndSession(recordId, false, session_, std::move(complete));
}

void VDDumpDataManager::readDataForRecord(std::int64_t recordId, bool direct, Completion complete)
{
    readDataForRecordDirectAndSession(recordId, direct, session_, std::move(complete));
}

void VDDumpDataManager::readDataForRecordDirectAndSession(std::int64_t recordId, bool direct, const std::string& session, Completion complete)
{
    auto [folder, queue] = current();
    if (!queue) {
        deliver(std::move(complete), std::nullopt);
        return;
    }
    std::optional<fs::path> path;
    if (folder && isPlainSession(session))
        path = *folder / fileName(session, direct, recordId);
    // Even a read that can only yield none waits its turn, so completions keep the order of
    // the requests.
    queue->async([path = std::move(path), complete = std::move(complete)]() mutable {
        deliver(std::move(complete), path ? loadFile(*path) : std::nullopt);
    });
}

std::optional<fs::path> VDDumpDataManager::dumpFolder()
{
    return current().folder;
}

void VDDumpDataManager::cleanDumpFolder()
{
    auto [folder, queue] = current();
    if (!folder || !queue)
        return;
    queue->async([folder = std::move(*folder)] {
        // Listed first, removed after: removing while the listing is open may skip entries.
        std::vector<fs::path> entries;
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            entries.push_back(it->path());
        for (const auto& entry : entries) {
            std::error_code ignored;
            fs::remove_all(entry, ignored);
        }
    });
}

std::optional<fs::path> VDDumpDataManager::setUpDumpFolderIn(const std::optional<fs::path>& tmpFolder)
{
    auto& p = place();
    bool done = false;
    // Taking the first set-up keeps a test or tool from ever touching the user's caches.
    std::call_once(p.once, [&] {
        std::lock_guard lock(p.mutex);
        setUpLocked(p, tmpFolder);
        done = true;
    });
    std::lock_guard lock(p.mutex);
    if (!done)
        setUpLocked(p, tmpFolder);
    return p.folder;
}

} // namespace vd
