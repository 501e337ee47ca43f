#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <thread>

#include <gtest/gtest.h>

#include "data/VDDumpDataManager.h"
#include "platform/Log.h"
#include "platform/MainLoop.h"
#include "support/BytesOf.h"
#include "support/ChildProcess.h"
#include "support/DataSuite.h"
#include "support/TempDir.h"

namespace vd {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::bytesOf;
using test::entriesOf;
using test::readFile;
using fs::perms;
using Names = std::vector<std::string>;

// Each test gets its own dump folder in a fresh temporary folder and a main loop on the test's
// thread, so completions can be drained where the application would run them.
class VDDumpDataManagerTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(VDDumpDataManager::setUpDumpFolderIn(base_.path()), dump_); }
    // Nothing of this test may still be queued when its folder and loop go away.
    void TearDown() override { settle(); }

    // Runs the main loop until everything asked of the dump queue so far has finished and
    // delivered: the queue is serial and completions keep their order on the main loop.
    void settle() { readBack(*VDDumpDataManager::initWithSession("settle"), 0, true); }
    // What a read of the record's body gives, from `session` when named; a failure when the
    // completion never came.
    std::optional<Bytes> readBack(VDDumpDataManager& store, std::int64_t recordId, bool direct,
                                  const char* session = nullptr)
    {
        const auto body = test::awaitCompletion<std::optional<Bytes>>(loop_, [&](auto done) {
            session ? store.readDataForRecordDirectAndSession(recordId, direct, session, std::move(done))
                    : store.readDataForRecord(recordId, direct, std::move(done));
        });
        EXPECT_TRUE(body) << "the read never completed";
        return body.value_or(std::nullopt);
    }

    MainLoop loop_;
    test::TempDir base_;
    const fs::path dump_ = base_.path() / "Dump";
};

TEST_F(VDDumpDataManagerTest, StoredBodyReadsBackFromItsOwnFileAndSessionUntilTheFolderIsCleaned)
{
    auto store = VDDumpDataManager::initWithSession("Ab3xY9");
    const std::string request = "GET / HTTP/1.1\r\n\r\n", response = "HTTP/1.1 204 No Content\r\n\r\n";
    store->storeRequestData(bytesOf(request), 42);
    store->storeResponseData(bytesOf(response), 42);
    store->storeRequestData(bytesOf("negative"), -7);
    EXPECT_EQ(readBack(*store, 42, true), bytesOf(request));
    EXPECT_EQ(readBack(*store, 42, false), bytesOf(response));
    EXPECT_EQ(readBack(*store, -7, true), bytesOf("negative"));
    EXPECT_EQ(readBack(*store, -7, false), std::nullopt);
    EXPECT_EQ(readBack(*store, 43, true), std::nullopt);
    // The file holds the body and nothing else, under the agreed name.
    EXPECT_EQ(readFile(dump_ / "Ab3xY9_req_42_dumpfile.bin"), request);
    EXPECT_EQ(readFile(dump_ / "Ab3xY9_rsp_42_dumpfile.bin"), response);
    EXPECT_EQ(readFile(dump_ / "Ab3xY9_req_-7_dumpfile.bin"), "negative");

    // A second body replaces the first wholly, leaving no temporary file behind; empty data
    // writes nothing.
    store->storeRequestData(bytesOf("short"), 42);
    EXPECT_EQ(readBack(*store, 42, true), bytesOf("short"));
    store->storeRequestData({}, 1);
    store->storeData({}, false, 1, "Ab3xY9");
    EXPECT_EQ(readBack(*store, 1, true), std::nullopt);
    EXPECT_EQ(readBack(*store, 1, false), std::nullopt);
    EXPECT_EQ(entriesOf(dump_), (Names{"Ab3xY9_req_-7_dumpfile.bin", "Ab3xY9_req_42_dumpfile.bin", "Ab3xY9_rsp_42_dumpfile.bin"}));

    // Another session keeps a file of its own for the same record, and is read when named.
    VDDumpDataManager::initWithSession("second")->storeResponseData(bytesOf("body of second"), 42);
    EXPECT_EQ(readBack(*store, 42, false), bytesOf(response));
    EXPECT_EQ(readBack(*store, 42, false, "second"), bytesOf("body of second"));

    // Cleaning empties the folder, subfolders too, and leaves it usable.
    fs::create_directories(dump_ / "stray" / "deeper");
    std::ofstream(dump_ / "stray" / "deeper" / "file") << "x";
    VDDumpDataManager::cleanDumpFolder();
    EXPECT_EQ(readBack(*store, 42, false), std::nullopt);
    EXPECT_TRUE(entriesOf(dump_).empty());
    store->storeRequestData(bytesOf("again"), 1);
    EXPECT_EQ(readBack(*store, 1, true), bytesOf("again"));
}

TEST_F(VDDumpDataManagerTest, FolderAndFilesAreOwnerOnlyAndSessionsThatCouldLeaveTheFolderAreRefused)
{
    log::Capture capture;
    const Bytes body = bytesOf("payload");
    const std::vector<std::string> sessions{"../escape", "a/b", "a\\b", "..", std::string("nul\0byte", 8)};
    for (const auto& session : sessions) {
        SCOPED_TRACE(session);
        auto store = VDDumpDataManager::initWithSession(session);
        store->storeRequestData(body, 1);
        store->storeData(body, false, 1, session);
        EXPECT_EQ(readBack(*store, 1, true), std::nullopt);
        EXPECT_EQ(readBack(*store, 1, false), std::nullopt);
    }
    EXPECT_TRUE(entriesOf(dump_).empty());
    EXPECT_TRUE(capture.contains("Dump store refused a session that is not a plain name"));
    // "../escape" would have landed beside the dump folder.
    EXPECT_EQ(entriesOf(base_.path()), Names{"Dump"});

    // A session with dots that do not form ".." is an ordinary name.
    auto dotted = VDDumpDataManager::initWithSession("a.b");
    dotted->storeRequestData(body, 1);
    EXPECT_EQ(readBack(*dotted, 1, true), body);
    EXPECT_EQ(fs::status(dump_).permissions(), perms::owner_all);
    EXPECT_EQ(fs::status(dump_ / "a.b_req_1_dumpfile.bin").permissions(),
              perms::owner_read | perms::owner_write);

    // A folder left open by someone else is closed when the store takes it over.
    test::TempDir other;
    fs::create_directory(other / "Dump");
    fs::permissions(other / "Dump", perms::owner_all | perms::group_all | perms::others_read | perms::others_exec);
    ASSERT_EQ(VDDumpDataManager::setUpDumpFolderIn(other.path()), other / "Dump");
    EXPECT_EQ(fs::status(other / "Dump").permissions(), perms::owner_all);
    ASSERT_TRUE(VDDumpDataManager::setUpDumpFolderIn(base_.path()));
}

// Without a temporary folder, or with a plain file where the dump folder belongs, stores are
// quiet and reads give none; the file is left alone and what was stored before comes back.
TEST_F(VDDumpDataManagerTest, WithoutAUsableFolderNothingIsStoredAndReadsYieldNone)
{
    auto store = VDDumpDataManager::initWithSession("s1");
    store->storeRequestData(bytesOf("kept"), 1);
    settle();
    EXPECT_FALSE(VDDumpDataManager::setUpDumpFolderIn(std::nullopt) || VDDumpDataManager::dumpFolder());
    store->storeRequestData(bytesOf("dropped"), 2);
    VDDumpDataManager::cleanDumpFolder();
    EXPECT_EQ(readBack(*store, 1, true), std::nullopt);

    test::TempDir other;
    std::ofstream(other / "Dump") << "not a folder";
    // The path is the dump folder in every case; work there just fails.
    ASSERT_EQ(VDDumpDataManager::setUpDumpFolderIn(other.path()), other / "Dump");
    store->storeRequestData(bytesOf("lost"), 3);
    EXPECT_EQ(readBack(*store, 3, true), std::nullopt);
    VDDumpDataManager::cleanDumpFolder();
    EXPECT_EQ(readFile(other / "Dump"), "not a folder");
    EXPECT_EQ(entriesOf(other.path()), Names{"Dump"});

    ASSERT_EQ(VDDumpDataManager::setUpDumpFolderIn(base_.path()), dump_);
    EXPECT_EQ(std::pair(readBack(*store, 1, true), entriesOf(dump_)), std::pair(std::optional(bytesOf("kept")), Names{"s1_req_1_dumpfile.bin"}));
}

TEST_F(VDDumpDataManagerTest, InterleavedStoresAndReadsFromManyThreadsKeepEachSendersOrderAndCompleteOnTheMainThread)
{
    constexpr int kThreads = 4, kRounds = 40;
    auto store = VDDumpDataManager::initWithSession("order");
    // Each thread rewrites its own record and reads it straight back: every read must see the
    // version written just before it, and its completions must arrive in the order asked for.
    // Touched only by completions, which all run on this thread.
    std::vector<std::vector<int>> seen(kThreads);
    std::atomic<int> completions{0};
    std::atomic<bool> offMain{false};
    const auto mainThread = std::this_thread::get_id();
    // Asked on the main thread, a read still completes later, never inside the call; a missing
    // completion is fine.
    store->readRequestDataForRecord(0, [&](std::optional<Bytes>) { ++completions; });
    EXPECT_EQ(completions.load(), 0);
    store->readResponseDataForRecord(0, nullptr);
    // A large body stored on a worker is seen, exactly, by a read asked right after on this
    // thread: the queue alone must order the read after the write.
    const Bytes body = test::patterned(20u << 20, 20);
    std::thread([&] { store->storeResponseData(body, 9); }).join();
    EXPECT_EQ(readBack(*store, 9, false), body);
    std::vector<std::jthread> threads; // joined when the test ends, however it ends
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                store->storeRequestData(bytesOf(std::to_string(round)), t);
                store->readRequestDataForRecord(t, [&, t](std::optional<Bytes> bytes) {
                    seen[t].push_back(bytes ? std::stoi(std::string(bytes->begin(), bytes->end())) : -1);
                    offMain = offMain || std::this_thread::get_id() != mainThread;
                    ++completions;
                });
            }
        });
    }
    // Drained while the threads still send, as the application would.
    // Generous for sanitizer builds on a loaded machine; a condition that holds returns at once.
    ASSERT_TRUE(loop_.runUntil([&] { return completions.load() == 1 + kThreads * kRounds; }, 20s));
    std::vector<int> expected(kRounds);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(seen, std::vector<std::vector<int>>(kThreads, expected));
    EXPECT_FALSE(offMain);
}

} // namespace
} // namespace vd
