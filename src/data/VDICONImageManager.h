#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include <QImage>

namespace vd {

class ConcurrentQueue;

// The one store of application icons, shared by all windows. Icons are PNG files named after
// bundle ids in an icon folder; a missing one is asked of the service once and written there
// when it arrives. Resized images are kept in memory for the whole run, one per path and size.
//
// Any thread may call any operation. Completions run on the main thread: at once when the
// caller is already there, else posted. A bundle id that would not make a single plain file
// name never becomes a path: it is never asked for, never written, and shows the default icon.
class VDICONImageManager : public std::enable_shared_from_this<VDICONImageManager> {
public:
    // Gets the image, or a null image when none could be made at that size.
    using ImageCompletion = std::function<void(QImage)>;

    // Made on first use and kept until the process ends.
    static std::shared_ptr<VDICONImageManager> sharedInstance();
    // A manager of its own with empty tables and an undecided folder, for tests and tools that
    // must not share the application's tables or folder. Give it a folder with
    // setIconFolderPath() (or point the caches folder elsewhere) before its first use.
    static std::shared_ptr<VDICONImageManager> create();

    VDICONImageManager(const VDICONImageManager&) = delete;
    VDICONImageManager& operator=(const VDICONImageManager&) = delete;

    // Counts only if it names an existing folder when the folder is first needed.
    void setIconFolderPath(std::string path);
    // The folder in use, decided on first use and then fixed; empty when there is none at all.
    std::string localIconFolderPath();

    // True when the service need not be asked for the icon of `bundleId`. False at most once per
    // id, however many threads ask: the caller then asks the service.
    bool bundleIdHasIcon(const std::string& bundleId);
    // Stores the service's icon reply as the id's file, unless that file is already there.
    void writeBundleId(const std::string& bundleId, std::string_view iconBase64String);

    // The icon of `bundleId` from its file, loaded on this thread. Without a folder or an id:
    // the default icon if one of that size is cached already, else none.
    std::optional<QImage> loadICONofBundleId(const std::string& bundleId, double width, double height);
    // The image at `imagePath` (or the pseudo id's image), loaded on this thread; the default
    // icon when it cannot be loaded. An empty `bundleId` stands for none.
    QImage loadBundlId(const std::string& bundleId, const std::string& imagePath, double width, double height);

    void loadICONofBundleId(const std::string& bundleId, double width, double height, ImageCompletion complete);
    void loadImagePath(const std::string& path, double width, double height, ImageCompletion complete);
    // The file is read on "VD.TableCell.ImageProcess". An empty `bundleId` stands for none.
    void loadImageBundleId(const std::string& bundleId, const std::string& path, double width, double height, ImageCompletion complete);
    void returnDefaultImageSize(double width, double height, ImageCompletion complete);

    // Whether `bundleId` can be used as one file name inside the icon folder.
    static bool isSafeBundleId(std::string_view bundleId);

private:
    VDICONImageManager();

    std::string iconPathOf(const std::string& folder, const std::string& bundleId) const;
    std::optional<QImage> cached(const std::string& key);
    // Keeps the first image stored under a key, so every caller sees the same one.
    QImage remember(const std::string& key, QImage image);
    QImage defaultImage(double width, double height);
    QImage computerImage(double width, double height);
    QImage pseudoImage(const std::string& bundleId, double width, double height);
    void noteLoaded(const std::string& bundleId);
    void deliver(ImageCompletion complete, QImage image) const;
    // Caches the image and calls the completion on the main thread, if the manager is still there.
    static void finishOnMain(std::weak_ptr<VDICONImageManager> weak, std::string key, QImage image, ImageCompletion complete);

    std::shared_ptr<ConcurrentQueue> queue_;

    // One lock for the three tables; it is never held while files are read or written, images
    // are decoded or resized, or a completion runs.
    std::mutex mutex_;
    std::unordered_map<std::string, QImage> images_;
    std::unordered_set<std::string> existIcons_;
    std::unordered_set<std::string> loadingIcons_;
    std::string iconFolderPath_;

    // Written once under the flag and only read after it, so it needs no lock.
    std::once_flag folderDecided_;
    std::string localIconFolderPath_;
};

} // namespace vd
