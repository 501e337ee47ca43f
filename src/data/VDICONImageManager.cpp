#include "VDICONImageManager.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QSizeF>
#include <QString>

#include "data/AtomicFile.h"
#include "data/VDUtils.h"
#include "platform/DispatchQueue.h"
#include "platform/MainQueue.h"

// The images are compiled into this static library, whose resource object the linker would
// otherwise drop; the macro has to be used outside any namespace.
static void initDataResources()
{
    Q_INIT_RESOURCE(data);
}

namespace vd {
namespace fs = std::filesystem;

namespace {

// An icon file is a few KiB; anything far larger is not one, and a path from a record must not
// make us read a disk image into memory.
constexpr off_t kMaxImageFileBytes = 16 << 20;
// What decoding one image may allocate, in MiB: a small PNG may still claim a huge canvas.
constexpr int kDecodeLimitMiB = 64;
// Sizes come from views; beyond this something is wrong, and Qt's int geometry would overflow.
constexpr double kMaxSide = 16384;
// The icon's file name, the id plus ".png", must fit into one directory entry.
constexpr std::size_t kMaxFileName = 255;
constexpr std::string_view kIconSuffix = ".png";

constexpr std::string_view kLocalPrefix = "local_";
constexpr std::string_view kRemotePrefix = "remote_";

void ensureResources()
{
    static std::once_flag once;
    std::call_once(once, [] { initDataResources(); });
}

QImage loadResource(const char* name)
{
    ensureResources();
    return QImage(QString::fromLatin1(name));
}

// Decoded once per process; copies share the pixels, which are only ever read.
const QImage& defaultSource()
{
    static const QImage image = loadResource(":/default_icon");
    return image;
}

const QImage& computerSource()
{
    static const QImage image = loadResource(":/computer");
    return image;
}

// "%f" would follow the C locale of the moment, which Qt sets from the user's settings, and
// could then write "32,000000"; the key must not change with the desktop's language.
void appendSixDecimals(std::string& out, double value)
{
    char buffer[400]; // the longest double in fixed notation with six decimals fits
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    out.append(buffer, result.ptr);
}

std::string sizeKey(std::string_view head, double width, double height)
{
    std::string key(head);
    key += '_';
    appendSixDecimals(key, width);
    key += '_';
    appendSixDecimals(key, height);
    return key;
}

bool isLocalPseudoId(std::string_view bundleId)
{
    return bundleId.size() > kLocalPrefix.size() && bundleId.starts_with(kLocalPrefix);
}

bool isRemotePseudoId(std::string_view bundleId)
{
    return bundleId.size() > kRemotePrefix.size() && bundleId.starts_with(kRemotePrefix);
}

bool isPseudoId(std::string_view bundleId)
{
    return isLocalPseudoId(bundleId) || isRemotePseudoId(bundleId);
}

QImage resized(const QImage& source, double width, double height)
{
    // Negated so that NaN is refused too.
    if (source.isNull() || !(width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide))
        return {};
    return VDUtils::imageResize(source, QSizeF(width, height)).value_or(QImage());
}

// Only a regular file is read: a path naming a pipe or a device (a record may carry any path)
// must neither block a worker nor stream without end. Links are followed, since installed
// icons are often links into a theme.
QImage loadImageFile(const std::string& path)
{
    if (path.empty())
        return {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxImageFileBytes) {
        ::close(fd);
        return {};
    }
    QByteArray bytes(static_cast<qsizetype>(info.st_size), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, static_cast<std::size_t>(bytes.size() - got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return {};
        }
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    bytes.truncate(got);

    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAllocationLimit(kDecodeLimitMiB);
    return reader.read();
}

} // namespace

std::shared_ptr<VDICONImageManager> VDICONImageManager::sharedInstance()
{
    // Never destroyed: a load still running on a worker at exit may reach it.
    static auto* instance = new std::shared_ptr<VDICONImageManager>(create());
    return *instance;
}

std::shared_ptr<VDICONImageManager> VDICONImageManager::create()
{
    return std::shared_ptr<VDICONImageManager>(new VDICONImageManager());
}

VDICONImageManager::VDICONImageManager() : queue_(ConcurrentQueue::create("VD.TableCell.ImageProcess"))
{
    ensureResources();
}

bool VDICONImageManager::isSafeBundleId(std::string_view bundleId)
{
    // A leading dot covers "." and ".." and keeps hidden files (our own temporaries among them)
    // out of reach. Control characters make no path escape, but a file name holding line breaks
    // or terminal escapes is a trap for whoever lists the folder, and no real bundle id has one.
    const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; };
    return !bundleId.empty() && bundleId.front() != '.' && bundleId.size() + kIconSuffix.size() <= kMaxFileName &&
           bundleId.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos &&
           std::none_of(bundleId.begin(), bundleId.end(), control);
}

void VDICONImageManager::setIconFolderPath(std::string path)
{
    std::lock_guard lock(mutex_);
    iconFolderPath_ = std::move(path);
}

std::string VDICONImageManager::localIconFolderPath()
{
    // Decided once: files written so far and the requests they answer belong to one folder.
    std::call_once(folderDecided_, [this] {
        std::string named;
        {
            std::lock_guard lock(mutex_);
            named = iconFolderPath_;
        }
        std::error_code error;
        if (!named.empty() && fs::is_directory(named, error)) {
            localIconFolderPath_ = std::move(named);
            return;
        }
        if (auto folder = VDUtils::getAndCreateTmpFolder())
            localIconFolderPath_ = folder->string();
    });
    return localIconFolderPath_;
}

std::string VDICONImageManager::iconPathOf(const std::string& folder, const std::string& bundleId) const
{
    std::string path = folder;
    path += '/';
    path += bundleId;
    path += kIconSuffix;
    return path;
}

bool VDICONImageManager::bundleIdHasIcon(const std::string& bundleId)
{
    // An id that cannot be a file name is never asked for: its answer would have nowhere to go.
    if (!isSafeBundleId(bundleId))
        return true;
    {
        std::lock_guard lock(mutex_);
        if (loadingIcons_.contains(bundleId) || existIcons_.contains(bundleId))
            return true;
    }
    const std::string folder = localIconFolderPath();
    if (folder.empty())
        return true; // likewise nowhere to keep the answer
    std::error_code error;
    const fs::file_status status = fs::status(iconPathOf(folder, bundleId), error);
    if (fs::exists(status) && !fs::is_directory(status))
        return true;
    // Only the thread that puts the id in the table asks; any other that got this far meanwhile
    // finds it there.
    std::lock_guard lock(mutex_);
    if (existIcons_.contains(bundleId))
        return true;
    return !loadingIcons_.insert(bundleId).second;
}

void VDICONImageManager::writeBundleId(const std::string& bundleId, std::string_view iconBase64String)
{
    if (!isSafeBundleId(bundleId) || iconBase64String.empty())
        return;
    const std::string folder = localIconFolderPath();
    if (folder.empty())
        return;
    const fs::path target = iconPathOf(folder, bundleId);
    std::error_code error;
    if (fs::symlink_status(target, error).type() != fs::file_type::not_found)
        return;
    const auto bytes = VDUtils::base64DecodeData(iconBase64String, false);
    if (!bytes || bytes->empty())
        return;
    // Another writer of the same id (a second window's reply) may have been first; its file
    // stays, and serves us just as well.
    if (!writeFileAtomically(target, *bytes, ExistingFile::keep) &&
        fs::symlink_status(target, error).type() == fs::file_type::not_found)
        return;
    noteLoaded(bundleId);
}

std::optional<QImage> VDICONImageManager::cached(const std::string& key)
{
    std::lock_guard lock(mutex_);
    if (const auto found = images_.find(key); found != images_.end())
        return found->second;
    return std::nullopt;
}

QImage VDICONImageManager::remember(const std::string& key, QImage image)
{
    if (image.isNull())
        return image;
    std::lock_guard lock(mutex_);
    return images_.try_emplace(key, std::move(image)).first->second;
}

QImage VDICONImageManager::defaultImage(double width, double height)
{
    const std::string key = sizeKey("default", width, height);
    if (auto hit = cached(key))
        return *hit;
    return remember(key, resized(defaultSource(), width, height));
}

QImage VDICONImageManager::computerImage(double width, double height)
{
    const std::string key = sizeKey("remote", width, height);
    if (auto hit = cached(key))
        return *hit;
    return remember(key, resized(computerSource(), width, height));
}

QImage VDICONImageManager::pseudoImage(const std::string& bundleId, double width, double height)
{
    return isLocalPseudoId(bundleId) ? defaultImage(width, height) : computerImage(width, height);
}

void VDICONImageManager::noteLoaded(const std::string& bundleId)
{
    std::lock_guard lock(mutex_);
    existIcons_.insert(bundleId);
    loadingIcons_.erase(bundleId);
}

void VDICONImageManager::deliver(ImageCompletion complete, QImage image) const
{
    if (!complete)
        return;
    runBlockInMainThread([complete = std::move(complete), image = std::move(image)] { complete(image); });
}

std::optional<QImage> VDICONImageManager::loadICONofBundleId(const std::string& bundleId, double width, double height)
{
    const std::string folder = bundleId.empty() ? std::string() : localIconFolderPath();
    if (folder.empty())
        return cached(sizeKey("default", width, height));
    QImage image;
    if (isPseudoId(bundleId) || isSafeBundleId(bundleId))
        image = loadBundlId(bundleId, iconPathOf(folder, bundleId), width, height);
    else
        image = defaultImage(width, height);
    if (image.isNull())
        return std::nullopt;
    return image;
}

QImage VDICONImageManager::loadBundlId(const std::string& bundleId, const std::string& imagePath, double width, double height)
{
    if (isPseudoId(bundleId))
        return pseudoImage(bundleId, width, height);
    const std::string key = sizeKey(imagePath, width, height);
    if (auto hit = cached(key))
        return *hit;
    const QImage source = loadImageFile(imagePath);
    if (source.isNull())
        return defaultImage(width, height);
    if (!bundleId.empty())
        noteLoaded(bundleId);
    return remember(key, resized(source, width, height));
}

void VDICONImageManager::loadICONofBundleId(const std::string& bundleId, double width, double height, ImageCompletion complete)
{
    const std::string folder = bundleId.empty() ? std::string() : localIconFolderPath();
    if (folder.empty() || !(isPseudoId(bundleId) || isSafeBundleId(bundleId))) {
        returnDefaultImageSize(width, height, std::move(complete));
        return;
    }
    loadImageBundleId(bundleId, iconPathOf(folder, bundleId), width, height, std::move(complete));
}

void VDICONImageManager::loadImagePath(const std::string& path, double width, double height, ImageCompletion complete)
{
    loadImageBundleId(std::string(), path, width, height, std::move(complete));
}

void VDICONImageManager::loadImageBundleId(const std::string& bundleId, const std::string& path, double width, double height,
                                           ImageCompletion complete)
{
    if (isPseudoId(bundleId)) {
        deliver(std::move(complete), pseudoImage(bundleId, width, height));
        return;
    }
    const std::string key = sizeKey(path, width, height);
    std::optional<QImage> hit;
    bool loading = false;
    {
        std::lock_guard lock(mutex_);
        if (const auto found = images_.find(key); found != images_.end())
            hit = found->second;
        else
            loading = !bundleId.empty() && loadingIcons_.contains(bundleId);
    }
    if (hit) {
        deliver(std::move(complete), std::move(*hit));
        return;
    }
    // Asked of the service and not here yet, or known to be broken: the default icon, without
    // another look at the disk.
    if (loading) {
        deliver(std::move(complete), defaultImage(width, height));
        return;
    }
    // The task holds its queue: a manager of a test may go away while the task still runs. It
    // holds the manager only while it touches the tables, so the manager can go with its owner.
    queue_->async([weak = weak_from_this(), queue = queue_, bundleId, path, key, width, height, complete = std::move(complete)]() mutable {
        if (weak.expired())
            return;
        const QImage source = loadImageFile(path);
        if (source.isNull()) {
            std::string defaultKey = sizeKey("default", width, height);
            std::optional<QImage> hit;
            {
                auto self = weak.lock();
                if (!self)
                    return;
                if (!bundleId.empty()) {
                    std::lock_guard lock(self->mutex_);
                    self->loadingIcons_.insert(bundleId);
                }
                hit = self->cached(defaultKey);
            }
            // What returnDefaultImageSize() would do, without another trip through the queue.
            QImage image = hit ? std::move(*hit) : resized(defaultSource(), width, height);
            finishOnMain(std::move(weak), std::move(defaultKey), std::move(image), std::move(complete));
            return;
        }
        {
            auto self = weak.lock();
            if (!self)
                return;
            if (!bundleId.empty())
                self->noteLoaded(bundleId);
        }
        finishOnMain(std::move(weak), std::move(key), resized(source, width, height), std::move(complete));
    });
}

void VDICONImageManager::returnDefaultImageSize(double width, double height, ImageCompletion complete)
{
    const std::string key = sizeKey("default", width, height);
    if (auto hit = cached(key)) {
        deliver(std::move(complete), std::move(*hit));
        return;
    }
    queue_->async([weak = weak_from_this(), queue = queue_, key, width, height, complete = std::move(complete)]() mutable {
        if (weak.expired())
            return;
        finishOnMain(std::move(weak), std::move(key), resized(defaultSource(), width, height), std::move(complete));
    });
}

// Everything moves on to the main thread and nothing stays behind with the worker: an image that
// the main thread reads is then also released there (Qt counts its references where
// ThreadSanitizer cannot see), and the worker keeps no completion alive.
void VDICONImageManager::finishOnMain(std::weak_ptr<VDICONImageManager> weak, std::string key, QImage image, ImageCompletion complete)
{
    runBlockInMainThread([weak = std::move(weak), key = std::move(key), image = std::move(image), complete = std::move(complete)]() mutable {
        auto self = weak.lock();
        if (!self)
            return;
        image = self->remember(key, std::move(image));
        if (complete)
            complete(std::move(image));
    });
}

} // namespace vd
