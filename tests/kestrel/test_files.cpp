// The file operations under the commands, on every platform: folders in the way and
// the locks that order editors of one process and of several.
#include <chrono>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

#include "counter_record.h"
#include "kestrel/kestrel_heap.h"
#include "reply_sink.h"
#include "sandbox.h"

using namespace std::chrono_literals;

class Folders : public SandboxTest {};

TEST_F(Folders, FileInTheWayFailsAndStaysIntact) {
    write_bytes(store / "p", "a file");
    EXPECT_EQ(kestrel_make_directories(false, {"p", "latest"}), -1);
    EXPECT_EQ(kestrel_write_file("x", {"p", "latest"}), -1);
    EXPECT_EQ(run("kestrelV1 syncLatest p - x"), std::vector<std::string>{});
    EXPECT_EQ(read_bytes(store / "p"), "a file");
}

// A store folder that cannot be made (a file stands where its base folder should be)
// reads as missing, and nothing is written.
TEST_F(Folders, StoreFolderThatCannotBeMadeReadsAsMissing) {
    write_bytes(root / "a file", "kept");
    std::u8string named = (root / "a file").u8string();
    set_store_variable(std::string(named.begin(), named.end()).c_str());
    Tree before = snapshot(root);
    EXPECT_EQ(run("kestrelV1 init p"), std::vector<std::string>{"kestrelV1 initDone "});
    EXPECT_EQ(run("kestrelV1 getNews "), std::vector<std::string>{"kestrelV1 getNews "});
    for (const char* text :
         {"kestrelV1 newSid s", "kestrelV1 syncNews - 00000001", "kestrelV1 syncLatest p - x",
          "kestrelV1 syncNewsForce x", "kestrelV1 syncLatestForce p x"})
        EXPECT_EQ(run(text), std::vector<std::string>{}) << text;
    EXPECT_EQ(snapshot(root), before);
}

// --- Locks ------------------------------------------------------------------------

// Runs work on a thread of its own. A wait that runs out ends the whole test program
// with a failure: the work may still use the caller's frame, which cannot be left.
class Worker {
  public:
    explicit Worker(std::function<void()> work)
        : thread_([this, work = std::move(work)] {
              work();
              std::lock_guard<std::mutex> hold(guard_);
              done_ = true;
              ended_.notify_all();
          }) {}
    ~Worker() {
        finished(kForever);
        thread_.join();
    }
    bool finished(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> hold(guard_);
        if (ended_.wait_for(hold, limit, [this] { return done_; })) return true;
        if (limit >= kForever) {
            fprintf(stderr, "FAILED: a worker did not finish within %lld ms\n",
                    static_cast<long long>(limit.count()));
            fflush(stderr);
            std::_Exit(1);
        }
        return false;
    }
    static constexpr std::chrono::milliseconds kForever = 60s;

  private:
    std::mutex guard_;
    std::condition_variable ended_;
    bool done_ = false;
    std::thread thread_; // last: it starts at once and uses the members above
};

// How long a worker is given to show that it does NOT finish while the lock is held.
// Not a speed goal: a waiting worker passes however slow the machine is.
constexpr std::chrono::milliseconds kWhileLocked = 300ms;

class Locks : public SandboxTest {};

TEST_F(Locks, ReadWaitsForTheLock) {
    write_bytes(store / "kestrel-news", "00000001 news");
    LockHolder other(store / "kestrel-news");
    ASSERT_TRUE(other.locked());
    char* content = nullptr;
    int status = 1;
    Worker reader([&] { status = kestrel_read_file(&content, {"kestrel-news"}); });
    EXPECT_FALSE(reader.finished(kWhileLocked));
    other.release();
    ASSERT_TRUE(reader.finished(Worker::kForever));
    HeapPtr<char> owned(content);
    EXPECT_EQ(status, 0);
    EXPECT_STREQ(content, "00000001 news");
}

TEST_F(Locks, WriteLeavesTheOldContentUntilItHoldsTheLock) {
    const struct {
        const char* command;
        fs::path file;
    } cases[] = {
        {"kestrelV1 newSid 00000002 new", store / "kestrel-system"},
        {"kestrelV1 syncNewsForce 00000002 new", store / "kestrel-news"},
        {"kestrelV1 syncLatestForce p 00000002 new", store / "p" / "latest"},
    };
    for (const auto& c : cases) {
        write_bytes(c.file, "00000001 old record");
        LockHolder other(c.file);
        ASSERT_TRUE(other.locked());
        Worker writer([&] { run(c.command); });
        EXPECT_FALSE(writer.finished(kWhileLocked)) << c.command;
        EXPECT_EQ(other.content(), "00000001 old record") << c.command;
        other.release();
        ASSERT_TRUE(writer.finished(Worker::kForever));
        EXPECT_EQ(read_bytes(c.file), "00000002 new") << c.command;
    }
}

TEST_F(Locks, SyncComparesOnlyOnceItHoldsTheLock) {
    write_bytes(store / "kestrel-news", "00000001 old");
    LockHolder other(store / "kestrel-news");
    ASSERT_TRUE(other.locked());
    std::vector<std::string> replies;
    Worker syncer([&] { replies = run("kestrelV1 syncNews 00000002 00000003 mine"); });
    EXPECT_FALSE(syncer.finished(kWhileLocked));
    // The holder moves the record on before it lets go; the waiting swap expected
    // exactly that record.
    ASSERT_TRUE(other.replace("00000002 moved on"));
    other.release();
    ASSERT_TRUE(syncer.finished(Worker::kForever));
    EXPECT_EQ(replies, std::vector<std::string>{});
    EXPECT_EQ(read_bytes(store / "kestrel-news"), "00000003 mine");
}

// Several editors of one process (threads, each with its own commands) increment one
// counter record with compare-and-swap while others read it: every swap is counted
// exactly once, and no reader ever finds the record empty or half written.
TEST_F(Locks, ThreadsSwapACounterWithoutLosingAnIncrement) {
    constexpr int kIncrementers = 4, kAttempts = 150, kReaders = 2;
    constexpr size_t kBody = 64 * 1024; // written in more than one piece by most systems
    const std::string get = "kestrelV1 getNews ", conflict = "kestrelV1 syncNewsConflict ";
    ASSERT_EQ(run("kestrelV1 syncNews - " + counter_record(0, kBody)), std::vector<std::string>{});

    std::atomic<bool> running{true};
    std::atomic<int> swaps{0}, conflicts{0}, reads{0}, bad{0};
    std::vector<std::thread> threads;
    for (int r = 0; r < kReaders; ++r)
        threads.emplace_back([&] {
            while (running) {
                std::vector<std::string> replies = run(get);
                ++reads;
                if (replies.size() != 1 || counter_in(replies[0], get, kBody) < 0) ++bad;
            }
        });
    std::vector<std::thread> incrementers;
    for (int i = 0; i < kIncrementers; ++i)
        incrementers.emplace_back([&] {
            long known = 0;
            for (int attempt = 0; attempt < kAttempts; ++attempt) {
                std::vector<std::string> replies =
                    run("kestrelV1 syncNews " + tag_of(unsigned(known)) + " " +
                        counter_record(unsigned(known + 1), kBody));
                if (replies.empty()) {
                    ++swaps, ++known;
                    continue;
                }
                ++conflicts;
                long now = replies.size() == 1 ? counter_in(replies[0], conflict, kBody) : -1;
                if (now <= known) ++bad; // a conflict names a later, complete record
                known = now;
            }
        });
    for (std::thread& t : incrementers) t.join();
    running = false;
    for (std::thread& t : threads) t.join();

    EXPECT_EQ(bad, 0) << "of " << reads << " reads and " << conflicts << " conflicts";
    std::vector<std::string> last = run(get);
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(counter_in(last[0], get, kBody), long(swaps));
    EXPECT_GT(reads, 0);
    RecordProperty("swaps", swaps);
    RecordProperty("conflicts", conflicts);
    RecordProperty("reads", reads);
}
