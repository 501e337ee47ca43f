#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QSizeF>
#include <gtest/gtest.h>

#include "data/VDICONImageManager.h"
#include "data/VDUtils.h"
#include "platform/MainLoop.h"
#include "support/ChildProcess.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace vd {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Completion = VDICONImageManager::ImageCompletion;

// Generous for sanitizer builds on a loaded machine; a condition that holds returns at once.
constexpr auto kPatience = 20s;

QByteArray pngOf(const QColor& color, int side = 40)
{
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

std::string base64Of(const QByteArray& bytes)
{
    return bytes.toBase64().toStdString();
}

void writeFile(const fs::path& path, const QByteArray& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.constData(), bytes.size());
}

QByteArray fileContents(const fs::path& path)
{
    return QByteArray::fromStdString(test::readFile(path));
}

std::vector<std::string> entriesOf(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
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
        ASSERT_EQ(manager_->localIconFolderPath(), icons_.string());
    }

    struct Outcome {
        std::atomic<bool> done{false};
        QImage image;
        std::thread::id thread;
    };

    // Starts an asynchronous load and runs the main loop until its completion has run.
    std::shared_ptr<Outcome> await(const std::function<void(Completion)>& start)
    {
        auto outcome = std::make_shared<Outcome>();
        start([outcome](QImage image) {
            outcome->image = std::move(image);
            outcome->thread = std::this_thread::get_id();
            outcome->done = true;
        });
        EXPECT_TRUE(loop_.runUntil([&] { return outcome->done.load(); }, kPatience));
        return outcome;
    }

    QImage awaitPath(const fs::path& path, double side)
    {
        return await([&](Completion done) { manager_->loadImagePath(path.string(), side, side, std::move(done)); })->image;
    }

    QImage awaitIcon(const std::string& bundleId, double side)
    {
        return await([&](Completion done) { manager_->loadICONofBundleId(bundleId, side, side, std::move(done)); })->image;
    }

    QImage awaitDefault(double side)
    {
        return await([&](Completion done) { manager_->returnDefaultImageSize(side, side, std::move(done)); })->image;
    }

    MainLoop loop_;
    test::TempDir base_;
    const fs::path icons_ = base_ / "icons";
    std::shared_ptr<VDICONImageManager> manager_ = VDICONImageManager::create();
};

TEST_F(VDICONImageManagerTest, AMissingIconIsAskedForOnceAndAPresentOneNever)
{
    EXPECT_FALSE(manager_->bundleIdHasIcon("com.example.mail"));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(manager_->bundleIdHasIcon("com.example.mail"));

    writeFile(icons_ / "com.example.present.png", pngOf(Qt::red));
    EXPECT_TRUE(manager_->bundleIdHasIcon("com.example.present"));

    // A folder with the icon's name is not an icon.
    fs::create_directory(icons_ / "com.example.folder.png");
    EXPECT_FALSE(manager_->bundleIdHasIcon("com.example.folder"));
    EXPECT_TRUE(manager_->bundleIdHasIcon("com.example.folder"));

    // Nothing to ask for without an id.
    EXPECT_TRUE(manager_->bundleIdHasIcon(""));
}

TEST_F(VDICONImageManagerTest, IdsThatAreNoPlainFileNameNeverBecomePaths)
{
    const std::string png = base64Of(pngOf(Qt::red));
    // The folder's parent gets a file the ".." id would otherwise hit.
    writeFile(base_ / "victim.png", pngOf(Qt::blue));
    const std::vector<std::string> unsafe = {
        ".", "..", "../victim", "../escape", "a/b", "a\\b", std::string("a\0b", 3), ".hidden", std::string(252, 'x'),
        "com.example.\x01", "line\nbreak", "tab\there", "esc\x1b[31mred", "del\x7f",
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
    EXPECT_EQ(fileContents(base_ / "victim.png"), pngOf(Qt::blue));
    std::vector<std::string> beside = entriesOf(base_.path());
    std::sort(beside.begin(), beside.end());
    EXPECT_EQ(beside, (std::vector<std::string>{"icons", "victim.png"}));

    // The longest id whose file name still fits is an ordinary id.
    const std::string longest(251, 'y');
    EXPECT_FALSE(manager_->bundleIdHasIcon(longest));
    manager_->writeBundleId(longest, png);
    EXPECT_TRUE(fs::is_regular_file(icons_ / (longest + ".png")));
    EXPECT_EQ(centreOf(awaitIcon(longest, 20)), QColor(Qt::red));
}

TEST_F(VDICONImageManagerTest, AWrittenIconLoadsBackAndAnExistingFileIsNeverReplaced)
{
    const QByteArray red = pngOf(Qt::red);
    // The usual course: asked for, then the reply arrives while the id waits in the table.
    ASSERT_FALSE(manager_->bundleIdHasIcon("com.example.red"));
    manager_->writeBundleId("com.example.red", base64Of(red));
    EXPECT_EQ(fileContents(icons_ / "com.example.red.png"), red);
    EXPECT_TRUE(manager_->bundleIdHasIcon("com.example.red"));

    // Had the write left the id among the awaited ones, this would be the default icon.
    const QImage loaded = awaitIcon("com.example.red", 24);
    EXPECT_EQ(loaded.size(), QSize(24, 24));
    EXPECT_EQ(centreOf(loaded), QColor(Qt::red));
    const auto now = manager_->loadICONofBundleId("com.example.red", 16, 16);
    ASSERT_TRUE(now);
    EXPECT_EQ(now->size(), QSize(16, 16));
    EXPECT_EQ(centreOf(*now), QColor(Qt::red));

    // A second reply, and a reply for an icon the folder had already, change nothing.
    manager_->writeBundleId("com.example.red", base64Of(pngOf(Qt::green)));
    EXPECT_EQ(fileContents(icons_ / "com.example.red.png"), red);
    const QByteArray blue = pngOf(Qt::blue);
    writeFile(icons_ / "com.example.blue.png", blue);
    manager_->writeBundleId("com.example.blue", base64Of(red));
    EXPECT_EQ(fileContents(icons_ / "com.example.blue.png"), blue);

    // Text that decodes to nothing writes nothing; no temporary file is left behind by any of it.
    manager_->writeBundleId("com.example.empty", "");
    manager_->writeBundleId("com.example.junk", "!!!!");
    std::vector<std::string> names = entriesOf(icons_);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"com.example.blue.png", "com.example.red.png"}));
}

TEST_F(VDICONImageManagerTest, OnlyIdsLongerThanTheirPrefixArePseudoIds)
{
    // Files that a real lookup would find, to show whether the file was used.
    for (const char* id : {"local_", "remote_", "local_app", "remote_10.0.0.2"})
        writeFile(icons_ / (std::string(id) + ".png"), pngOf(Qt::red));

    const QImage fallback = resourceAt(":/default_icon", 30);
    const QImage computer = resourceAt(":/computer", 30);
    ASSERT_NE(fallback, computer);

    EXPECT_EQ(manager_->loadICONofBundleId("local_app", 30, 30), fallback);
    EXPECT_EQ(manager_->loadICONofBundleId("remote_10.0.0.2", 30, 30), computer);
    EXPECT_EQ(awaitIcon("local_app", 30), fallback);
    EXPECT_EQ(awaitIcon("remote_10.0.0.2", 30), computer);
    // A pseudo id never names a file, so even one that could not be a file name gets its image.
    EXPECT_EQ(awaitIcon("remote_a/b", 30), computer);

    EXPECT_EQ(centreOf(*manager_->loadICONofBundleId("local_", 30, 30)), QColor(Qt::red));
    EXPECT_EQ(centreOf(awaitIcon("remote_", 30)), QColor(Qt::red));
}

TEST_F(VDICONImageManagerTest, EachSizeOfAPathIsCachedOnItsOwn)
{
    const fs::path path = base_ / "app.png";
    writeFile(path, pngOf(Qt::red));

    const QImage small = awaitPath(path, 16);
    EXPECT_EQ(small.size(), QSize(16, 16));
    const QImage large = manager_->loadBundlId("", path.string(), 32, 48);
    EXPECT_EQ(large.size(), QSize(32, 48));

    // Both sizes are answered from memory once the file has gone, by either kind of load ...
    fs::remove(path);
    EXPECT_EQ(manager_->loadBundlId("", path.string(), 16, 16), small);
    EXPECT_EQ(awaitPath(path, 16), small);
    EXPECT_EQ(awaitPath(path, 32).size(), QSize(32, 32));
    EXPECT_EQ(centreOf(manager_->loadBundlId("", path.string(), 32, 48)), QColor(Qt::red));
    EXPECT_EQ(manager_->loadBundlId("", path.string(), 32, 48).size(), QSize(32, 48));
    // ... while a size never loaded needs the file.
    EXPECT_EQ(awaitPath(path, 20), resourceAt(":/default_icon", 20));
}

TEST_F(VDICONImageManagerTest, WhatCannotBeReadShowsTheDefaultIconAndABrokenIconStaysOnIt)
{
    const QImage fallback = resourceAt(":/default_icon", 24);
    writeFile(base_ / "junk.png", "definitely not a PNG");
    fs::create_directory(base_ / "folder.png");
    // A pipe with no writer would block an open without O_NONBLOCK and a read forever.
    ASSERT_EQ(::mkfifo((base_ / "pipe.png").c_str(), 0600), 0);
    for (const char* name : {"junk.png", "folder.png", "pipe.png", "missing.png"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(awaitPath(base_ / name, 24), fallback);
        EXPECT_EQ(manager_->loadBundlId("", (base_ / name).string(), 24, 24), fallback);
    }

    // A broken icon is not asked for again.
    writeFile(icons_ / "com.example.broken.png", "truncated");
    EXPECT_EQ(awaitIcon("com.example.broken", 24), fallback);
    EXPECT_TRUE(manager_->bundleIdHasIcon("com.example.broken"));

    // Even once the file is mended, asynchronous loads of this run keep to the default icon.
    fs::remove(icons_ / "com.example.broken.png");
    writeFile(icons_ / "com.example.broken.png", pngOf(Qt::red));
    EXPECT_EQ(awaitIcon("com.example.broken", 24), fallback);
}

TEST_F(VDICONImageManagerTest, CompletionsRunOnTheMainThread)
{
    writeFile(icons_ / "com.example.app.png", pngOf(Qt::red));
    const auto mainThread = std::this_thread::get_id();

    // Asked from a worker: the completion still comes to the main loop, at the size asked for.
    std::shared_ptr<Outcome> fromWorker;
    std::thread worker([&] {
        fromWorker = std::make_shared<Outcome>();
        manager_->loadICONofBundleId("com.example.app", 36, 18, [outcome = fromWorker](QImage image) {
            outcome->image = std::move(image);
            outcome->thread = std::this_thread::get_id();
            outcome->done = true;
        });
    });
    worker.join();
    ASSERT_TRUE(loop_.runUntil([&] { return fromWorker->done.load(); }, kPatience));
    EXPECT_EQ(fromWorker->thread, mainThread);
    EXPECT_EQ(fromWorker->image.size(), QSize(36, 18));
    EXPECT_EQ(centreOf(fromWorker->image), QColor(Qt::red));

    // Asked on the main thread with the answer in memory: it runs before the call returns.
    bool ranInside = false;
    manager_->loadICONofBundleId("com.example.app", 36, 18, [&](QImage image) {
        ranInside = true;
        EXPECT_EQ(image, fromWorker->image);
    });
    EXPECT_TRUE(ranInside);

    const auto drawn = await([&](Completion done) { manager_->returnDefaultImageSize(12, 12, std::move(done)); });
    EXPECT_EQ(drawn->thread, mainThread);
    EXPECT_EQ(drawn->image.size(), QSize(12, 12));
    // An empty completion is allowed.
    manager_->loadImagePath((icons_ / "com.example.app.png").string(), 8, 8, nullptr);
    manager_->returnDefaultImageSize(9, 9, nullptr);
}

TEST_F(VDICONImageManagerTest, CompletionsOfAManagerThatIsGoneAreDropped)
{
    writeFile(base_ / "app.png", pngOf(Qt::red));
    auto calls = std::make_shared<std::atomic<int>>(0);
    for (int side = 10; side < 20; ++side) {
        manager_->loadImagePath((base_ / "app.png").string(), side, side, [calls](QImage) { ++*calls; });
        manager_->returnDefaultImageSize(side, side, [calls](QImage) { ++*calls; });
    }
    manager_.reset();
    // A manager made now must not get the old one's answers either.
    manager_ = VDICONImageManager::create();
    const QImage after = awaitDefault(64);
    EXPECT_EQ(after.size(), QSize(64, 64));
    // Nothing can be awaited for a completion that must never come; by now the new manager's
    // own answer has come through, and this short extra run lets any late old one show.
    loop_.runFor(50ms);
    EXPECT_EQ(calls->load(), 0);
}

TEST_F(VDICONImageManagerTest, ConcurrentRequestsWritesAndLoadsLoseNothing)
{
    constexpr int kThreads = 4;
    constexpr int kRounds = 8;
    constexpr int kIds = 6;
    const std::array<QColor, kThreads> colours = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
    std::array<QByteArray, kThreads> pngs;
    std::array<std::string, kThreads> texts;
    for (int t = 0; t < kThreads; ++t) {
        pngs[t] = pngOf(colours[t]);
        texts[t] = base64Of(pngs[t]);
    }
    auto idOf = [](int k) { return "com.example.app" + std::to_string(k); };

    std::array<std::atomic<int>, kIds> requests{};
    auto completions = std::make_shared<std::atomic<int>>(0);
    auto wrongSize = std::make_shared<std::atomic<int>>(0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                for (int k = 0; k < kIds; ++k) {
                    const std::string id = idOf(k);
                    if (!manager_->bundleIdHasIcon(id))
                        ++requests[k];
                    const double side = 12 + (round + t) % 3 * 4;
                    manager_->loadICONofBundleId(id, side, side, [completions, wrongSize, side](QImage image) {
                        if (image.size() != QSize(static_cast<int>(side), static_cast<int>(side)))
                            ++*wrongSize;
                        ++*completions;
                    });
                    if (round == t)
                        manager_->writeBundleId(id, texts[t]);
                    if (auto image = manager_->loadICONofBundleId(id, side, side); !image || image->width() != side)
                        ++*wrongSize;
                }
            }
        });
    }
    constexpr int kExpected = kThreads * kRounds * kIds;
    const bool allArrived = loop_.runUntil([&] { return completions->load() == kExpected; }, kPatience);
    for (auto& thread : threads)
        thread.join();
    ASSERT_TRUE(allArrived || loop_.runUntil([&] { return completions->load() == kExpected; }, kPatience));
    EXPECT_EQ(wrongSize->load(), 0);

    for (int k = 0; k < kIds; ++k) {
        SCOPED_TRACE(idOf(k));
        EXPECT_EQ(requests[k].load(), 1);
        // Exactly one reply won, whole.
        const QByteArray written = fileContents(icons_ / (idOf(k) + ".png"));
        EXPECT_NE(std::find(pngs.begin(), pngs.end(), written), pngs.end());
        const auto image = manager_->loadICONofBundleId(idOf(k), 40, 40);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->pixelColor(20, 20).alpha(), 255);
    }
    EXPECT_EQ(entriesOf(icons_).size(), static_cast<std::size_t>(kIds));
}

// The folder is decided on first use, so each case here starts from a manager nobody has used.
class VDICONImageManagerFolderTest : public testing::Test {
protected:
    test::TempDir caches_;
    test::ScopedEnv env_{"XDG_CACHE_HOME", caches_.path().string()};
    std::shared_ptr<VDICONImageManager> manager_ = VDICONImageManager::create();
    const std::string cachesFolder_ = (caches_ / "VantorDashboard").string();
};

TEST_F(VDICONImageManagerFolderTest, TheServicesFolderIsUsedWhenItExistsAndNeverChanges)
{
    test::TempDir service;
    test::TempDir later;
    manager_->setIconFolderPath(service.path().string());
    EXPECT_EQ(manager_->localIconFolderPath(), service.path().string());
    manager_->setIconFolderPath(later.path().string());
    EXPECT_EQ(manager_->localIconFolderPath(), service.path().string());

    manager_->writeBundleId("com.example.app", base64Of(pngOf(Qt::red)));
    EXPECT_TRUE(fs::is_regular_file(service / "com.example.app.png"));
    EXPECT_FALSE(fs::exists(cachesFolder_));
}

TEST_F(VDICONImageManagerFolderTest, OtherwiseTheProgramsCachesFolderIsMadeAndUsed)
{
    test::TempDir elsewhere;
    writeFile(elsewhere / "not-a-folder", "x");
    for (const std::string& named : {std::string(), (elsewhere / "missing").string(), (elsewhere / "not-a-folder").string()}) {
        SCOPED_TRACE(named);
        auto manager = VDICONImageManager::create();
        manager->setIconFolderPath(named);
        EXPECT_EQ(manager->localIconFolderPath(), cachesFolder_);
        EXPECT_TRUE(fs::is_directory(cachesFolder_));
    }
    // A folder named only after the decision does not count.
    EXPECT_FALSE(manager_->bundleIdHasIcon("com.example.app"));
    manager_->setIconFolderPath(elsewhere.path().string());
    manager_->writeBundleId("com.example.app", base64Of(pngOf(Qt::red)));
    EXPECT_TRUE(fs::is_regular_file(fs::path(cachesFolder_) / "com.example.app.png"));
    EXPECT_FALSE(fs::exists(elsewhere / "com.example.app.png"));
}

} // namespace
} // namespace vd
