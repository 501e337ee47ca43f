#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/stat.h>

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <gtest/gtest.h>

#include "data/VDICONImageManager.h"
#include "data/VDUtils.h"
#include "platform/MainLoop.h"
#include "platform/MainQueue.h"
#include "support/ChildProcess.h"
#include "support/DataSuite.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace vd {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Completion = VDICONImageManager::ImageCompletion;
using test::entriesOf;
using Names = std::vector<std::string>;

std::string pngOf(const QColor& color)
{
    QImage image(40, 40, QImage::Format_ARGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

std::string base64Of(const std::string& bytes)
{
    return QByteArray::fromStdString(bytes).toBase64().toStdString();
}

QColor centreOf(const QImage& image)
{
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

// What the cache must hand out for the pseudo images, made the same way from the resources.
QImage resourceAt(const char* name, double side)
{
    return VDUtils::imageResize(QImage(QString::fromLatin1(name)), QSizeF(side, side)).value_or(QImage());
}

// Every test gets a manager of its own whose icon folder is a subfolder of a fresh temporary
// folder (so a stray write beside it would show), and a main loop on the test's thread where
// completions arrive.
class VDICONImageManagerTest : public testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directory(icons_);
        manager_->setIconFolderPath(icons_.string());
    }

    // Every completion of every test must run on the main thread.
    void TearDown() override { EXPECT_EQ(offMain_.load(), 0); }

    // Starts an asynchronous load and runs the main loop until its completion has run.
    QImage await(const std::function<void(Completion)>& start)
    {
        return test::awaitCompletion<QImage>(loop_, [&](Completion done) {
                   start([this, done](QImage image) {
                       offMain_ += !MainQueue::shared()->isCurrent();
                       done(std::move(image));
                   });
               }).value_or(QImage());
    }
    QImage awaitPath(const fs::path& path, double side) { return await([&](Completion done) { manager_->loadImagePath(path.string(), side, side, std::move(done)); }); }
    QImage awaitIcon(const std::string& id, double side) { return await([&](Completion done) { manager_->loadICONofBundleId(id, side, side, std::move(done)); }); }

    MainLoop loop_;
    test::TempDir base_;
    const fs::path icons_ = base_ / "icons";
    std::shared_ptr<VDICONImageManager> manager_ = VDICONImageManager::create();
    std::atomic<int> offMain_{0};
};

TEST_F(VDICONImageManagerTest, AMissingIconIsAskedForOnceWrittenOnceAndLoadsBack)
{
    const std::string red = pngOf(Qt::red);
    std::ofstream(icons_ / "com.example.blue.png") << pngOf(Qt::blue);
    EXPECT_TRUE(manager_->bundleIdHasIcon("com.example.blue"));
    EXPECT_TRUE(manager_->bundleIdHasIcon("")) << "nothing to ask for without an id";
    // A folder with the icon's name is not an icon.
    fs::create_directory(icons_ / "com.example.folder.png");
    EXPECT_FALSE(manager_->bundleIdHasIcon("com.example.folder"));
    EXPECT_FALSE(manager_->bundleIdHasIcon("com.example.red"));
    EXPECT_TRUE(manager_->bundleIdHasIcon("com.example.red"));
    // The reply arrives while the id waits in the table; had the write left it among the
    // awaited ones, the load would give the default icon.
    manager_->writeBundleId("com.example.red", base64Of(red));
    EXPECT_EQ(test::readFile(icons_ / "com.example.red.png"), red);
    const QImage loaded = awaitIcon("com.example.red", 24);
    EXPECT_EQ(loaded.size(), QSize(24, 24));
    EXPECT_EQ(centreOf(loaded), QColor(Qt::red));

    // A second reply, and one for an icon the folder had already, change nothing; text that
    // decodes to nothing writes nothing; no temporary file is left behind by any of it.
    manager_->writeBundleId("com.example.red", base64Of(pngOf(Qt::green)));
    manager_->writeBundleId("com.example.blue", base64Of(red));
    manager_->writeBundleId("com.example.empty", "");
    manager_->writeBundleId("com.example.junk", "!!!!");
    EXPECT_EQ(test::readFile(icons_ / "com.example.red.png"), red);
    EXPECT_EQ(test::readFile(icons_ / "com.example.blue.png"), pngOf(Qt::blue));
    EXPECT_EQ(entriesOf(icons_), (Names{"com.example.blue.png", "com.example.folder.png", "com.example.red.png"}));
}

TEST_F(VDICONImageManagerTest, IdsThatAreNoPlainFileNameNeverBecomePaths)
{
    const std::string png = base64Of(pngOf(Qt::red));
    // The folder's parent gets a file the ".." id would otherwise hit.
    std::ofstream(base_ / "victim.png") << pngOf(Qt::blue);
    const std::vector<std::string> unsafe = {
        ".", "..", "../victim", "a/b", "a\\b", std::string("a\0b", 3), ".hidden", std::string(252, 'x'), "line\nbreak",
        "esc\x1b[31mred", "del\x7f",
    };
    const QImage fallback = resourceAt(":/default_icon", 20);
    for (const auto& id : unsafe) {
        SCOPED_TRACE(testing::PrintToString(id));
        EXPECT_TRUE(manager_->bundleIdHasIcon(id));
        manager_->writeBundleId(id, png);
        EXPECT_EQ(manager_->loadICONofBundleId(id, 20, 20), fallback);
        EXPECT_EQ(awaitIcon(id, 20), fallback);
    }
    EXPECT_TRUE(entriesOf(icons_).empty());
    EXPECT_EQ(test::readFile(base_ / "victim.png"), pngOf(Qt::blue));
    EXPECT_EQ(entriesOf(base_.path()), (Names{"icons", "victim.png"}));

    // The longest id whose file name still fits is an ordinary id.
    const std::string longest(251, 'y');
    EXPECT_FALSE(manager_->bundleIdHasIcon(longest));
    manager_->writeBundleId(longest, png);
    EXPECT_EQ(centreOf(awaitIcon(longest, 20)), QColor(Qt::red));
}

TEST_F(VDICONImageManagerTest, OnlyIdsLongerThanTheirPrefixArePseudoIds)
{
    // Files that a real lookup would find, to show whether the file was used.
    for (const char* id : {"local_", "remote_", "local_app", "remote_10.0.0.2"})
        std::ofstream(icons_ / (std::string(id) + ".png")) << pngOf(Qt::red);
    const QImage fallback = resourceAt(":/default_icon", 30), computer = resourceAt(":/computer", 30);
    ASSERT_NE(fallback, computer);
    // A pseudo id never names a file, so even one that could not be a file name gets its image.
    EXPECT_EQ(std::tuple(manager_->loadICONofBundleId("local_app", 30, 30).value_or(QImage()), awaitIcon("local_app", 30),
                         manager_->loadICONofBundleId("remote_10.0.0.2", 30, 30).value_or(QImage()), awaitIcon("remote_a/b", 30)),
              std::tuple(fallback, fallback, computer, computer));
    EXPECT_EQ(std::pair(centreOf(manager_->loadICONofBundleId("local_", 30, 30).value_or(QImage())), centreOf(awaitIcon("remote_", 30))),
              std::pair(QColor(Qt::red), QColor(Qt::red)));
}

// Each size of a path is cached on its own; what cannot be read shows the default icon, and a
// broken icon stays on it.
TEST_F(VDICONImageManagerTest, EachSizeOfAPathIsCachedAndWhatCannotBeReadShowsTheDefaultIcon)
{
    const fs::path path = base_ / "app.png";
    std::ofstream(path) << pngOf(Qt::red);
    const QImage small = awaitPath(path, 16);
    const QImage large = manager_->loadBundlId("", path.string(), 32, 48);
    EXPECT_EQ(std::pair(small.size(), large.size()), std::pair(QSize(16, 16), QSize(32, 48)));
    // Both sizes are answered from memory once the file has gone, by either kind of load, while
    // a size never loaded needs the file.
    fs::remove(path);
    EXPECT_EQ(awaitPath(path, 16), small);
    EXPECT_EQ(manager_->loadBundlId("", path.string(), 32, 48), large);

    const QImage fallback = resourceAt(":/default_icon", 24);
    std::ofstream(base_ / "junk.png") << "definitely not a PNG";
    fs::create_directory(base_ / "folder.png");
    // A pipe with no writer would block an open without O_NONBLOCK and a read forever.
    ASSERT_EQ(::mkfifo((base_ / "pipe.png").c_str(), 0600), 0);
    for (const char* name : {"junk.png", "folder.png", "pipe.png", "missing.png", "app.png"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(awaitPath(base_ / name, 24), fallback);
        EXPECT_EQ(manager_->loadBundlId("", (base_ / name).string(), 24, 24), fallback);
    }
    // A broken icon is not asked for again, and even once the file is mended, asynchronous
    // loads of this run keep to the default icon.
    std::ofstream(icons_ / "com.example.broken.png") << "truncated";
    EXPECT_EQ(awaitIcon("com.example.broken", 24), fallback);
    EXPECT_TRUE(manager_->bundleIdHasIcon("com.example.broken"));
    std::ofstream(icons_ / "com.example.broken.png") << pngOf(Qt::red);
    EXPECT_EQ(awaitIcon("com.example.broken", 24), fallback);
}

TEST_F(VDICONImageManagerTest, CompletionsRunOnTheMainThreadAndNeverForAManagerThatIsGone)
{
    std::ofstream(icons_ / "com.example.app.png") << pngOf(Qt::red);
    // Asked from a worker: the completion still comes to the main loop, at the size asked for.
    const QImage fromWorker = await([&](Completion done) {
        std::thread([&] { manager_->loadICONofBundleId("com.example.app", 36, 18, std::move(done)); }).join();
    });
    EXPECT_EQ(std::pair(fromWorker.size(), centreOf(fromWorker)), std::pair(QSize(36, 18), QColor(Qt::red)));
    // Asked on the main thread with the answer in memory: it runs before the call returns.
    bool ranInside = false;
    manager_->loadICONofBundleId("com.example.app", 36, 18, [&](QImage image) { ranInside = image == fromWorker; });
    EXPECT_TRUE(ranInside);
    manager_->returnDefaultImageSize(9, 9, nullptr); // an empty completion is allowed

    auto calls = std::make_shared<std::atomic<int>>(0);
    for (int side = 10; side < 20; ++side) {
        manager_->loadImagePath((icons_ / "com.example.app.png").string(), side, side, [calls](QImage) { ++*calls; });
        manager_->returnDefaultImageSize(side, side, [calls](QImage) { ++*calls; });
    }
    manager_.reset();
    // A manager made now must not get the old one's answers either.
    manager_ = VDICONImageManager::create();
    EXPECT_EQ(await([&](Completion done) { manager_->returnDefaultImageSize(64, 64, std::move(done)); }).size(), QSize(64, 64));
    // Nothing can be awaited for a completion that must never come; by now the new manager's
    // own answer has come through, and this short extra run lets any late old one show.
    loop_.runFor(50ms);
    EXPECT_EQ(calls->load(), 0);
}

TEST_F(VDICONImageManagerTest, ConcurrentRequestsWritesAndLoadsLoseNothing)
{
    constexpr int kThreads = 4, kRounds = 8, kIds = 6;
    const std::array<std::string, kThreads> pngs = {pngOf(Qt::red), pngOf(Qt::green), pngOf(Qt::blue), pngOf(Qt::yellow)};
    std::array<std::atomic<int>, kIds> requests{};
    std::atomic<int> wrongSize{0};
    auto completions = std::make_shared<std::atomic<int>>(0);
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                for (int k = 0; k < kIds; ++k) {
                    const std::string id = "com.example.app" + std::to_string(k);
                    const double side = 12 + (round + t) % 3 * 4;
                    requests[k] += !manager_->bundleIdHasIcon(id);
                    manager_->loadICONofBundleId(id, side, side, [&wrongSize, completions, side](QImage image) {
                        wrongSize += image.width() != side;
                        ++*completions;
                    });
                    if (round == t)
                        manager_->writeBundleId(id, base64Of(pngs[t]));
                    const auto image = manager_->loadICONofBundleId(id, side, side);
                    wrongSize += !image || image->width() != side;
                }
            }
        });
    }
    // Drained while the threads still send, as the application would; generous for sanitizer
    // builds on a loaded machine, while a run where all have arrived returns at once.
    ASSERT_TRUE(loop_.runUntil([&] { return completions->load() == kThreads * kRounds * kIds; }, 40s));
    threads.clear();
    EXPECT_EQ(wrongSize.load(), 0);
    for (int k = 0; k < kIds; ++k) {
        const std::string id = "com.example.app" + std::to_string(k);
        EXPECT_EQ(requests[k].load(), 1) << id;
        // Exactly one reply won, whole.
        EXPECT_NE(std::find(pngs.begin(), pngs.end(), test::readFile(icons_ / (id + ".png"))), pngs.end()) << id;
        EXPECT_EQ(manager_->loadICONofBundleId(id, 40, 40).value_or(QImage()).pixelColor(20, 20).alpha(), 255) << id;
    }
    EXPECT_EQ(entriesOf(icons_).size(), std::size_t{kIds});
}

// The folder is decided on first use: the service's folder when it exists then, else the
// program's caches folder, and never changed afterwards.
TEST(VDICONImageManagerFolder, TheServicesFolderIfItExistsAtFirstUseElseTheCachesFolderAndNeverChanges)
{
    test::TempDir caches, service, elsewhere;
    test::ScopedEnv env("XDG_CACHE_HOME", caches.path().string());
    const fs::path cachesFolder = caches / "VantorDashboard";
    auto manager = VDICONImageManager::create();
    manager->setIconFolderPath(service.path().string());
    EXPECT_EQ(manager->localIconFolderPath(), service.path().string());
    manager->setIconFolderPath(elsewhere.path().string());
    manager->writeBundleId("com.example.app", base64Of(pngOf(Qt::red)));
    EXPECT_EQ(std::pair(fs::is_regular_file(service / "com.example.app.png"), fs::exists(cachesFolder)), std::pair(true, false));

    std::ofstream(elsewhere / "not-a-folder") << "x";
    for (const std::string& named : {std::string(), (elsewhere / "missing").string(), (elsewhere / "not-a-folder").string()}) {
        SCOPED_TRACE(named);
        manager = VDICONImageManager::create();
        manager->setIconFolderPath(named);
        EXPECT_EQ(manager->localIconFolderPath(), cachesFolder.string());
    }
    // A folder named only after the decision does not count.
    manager->setIconFolderPath(elsewhere.path().string());
    manager->writeBundleId("com.example.app", base64Of(pngOf(Qt::red)));
    EXPECT_EQ(std::pair(fs::is_regular_file(cachesFolder / "com.example.app.png"), fs::exists(elsewhere / "com.example.app.png")),
              std::pair(true, false));
}

} // namespace
} // namespace vd
