// The emberpress-news tool, run as real processes (under Wine for the Windows build)
// that share a test store: its command line and output, and several processes
// swapping one record at once.
#include <atomic>
#include <mutex>
#include <thread>

#include "counter_record.h"
#include "launch.h"
#include "sandbox.h"

class NewsTool : public SandboxTest {};

TEST_F(NewsTool, PrintsEveryReplyInOrderEachWithOneLineFeed) {
    Launch l = run_news({"kestrelV1 newSid sid-1", "kestrelV1 syncNewsForce 00000001 two\nlines",
                         "kestrelV1 syncNews 00000000 00000002 x", "kestrelV1 init emberpress",
                         "kestrelV1 getNews "});
    EXPECT_EQ(l.exit_code, 0u) << l.err;
    // Replies are printed as they stand: line feeds inside one stay bare line feeds.
    EXPECT_EQ(l.out, "kestrelV1 syncNewsConflict 00000001 two\nlines\n"
                     "kestrelV1 initSid sid-1\n"
                     "kestrelV1 initNews 00000001 two\nlines\n"
                     "kestrelV1 initDone \n"
                     "kestrelV1 getNews 00000001 two\nlines\n");
    EXPECT_EQ(read_bytes(store / "kestrel-news"), stored("00000001 two\nlines"));
}

TEST_F(NewsTool, ArgumentsArriveIntactAsUtf8) {
    const std::string product = "prod\xc3\xa9\xe2\x82\xac";
    const std::string content = "say \"hi\" \\\\ back\\ \\\" % ^ & | < > \xf0\x9f\x94\xa5\\";
    Launch l = run_news(
        {"kestrelV1 syncLatestForce " + product + " " + content, "kestrelV1 init " + product});
    EXPECT_EQ(l.exit_code, 0u) << l.err;
    EXPECT_EQ(l.out, "kestrelV1 initLatest " + content + "\nkestrelV1 initDone \n");
    EXPECT_EQ(read_bytes(store / utf8_path(product) / "latest"), content);
}

TEST_F(NewsTool, HelpExplainsUsage) {
    Launch l = run_news({"--help"});
    EXPECT_EQ(l.exit_code, 0u);
    EXPECT_NE(l.out.find("usage: emberpress-news COMMAND..."), std::string::npos);
    EXPECT_NE(l.out.find(kStoreVariable), std::string::npos);
    EXPECT_NE(l.out.find("line feed"), std::string::npos);
    EXPECT_FALSE(fs::exists(store));
}

TEST_F(NewsTool, BadArgumentsRunNothing) {
    write_bytes(store / "kestrel-system", "sid");
    Tree before = snapshot(root);
    const std::vector<std::string> cases[] = {
        {},
        {"kestrelV1 newSid changed", "init emberpress"},
        {"kestrelV1 newSid changed", ""},
        {"kestrelV1 newSid changed", "--help"},
        {"kestrelV1 newSid changed", "KESTRELV1 init p"},
    };
    for (const auto& args : cases) {
        Launch l = run_news(args);
        EXPECT_EQ(l.exit_code, 2u) << args.size();
        EXPECT_EQ(l.out, "");
        EXPECT_NE(l.err, "");
    }
    EXPECT_EQ(snapshot(root), before);
}

// The replies of one launch (each ends with a line feed; these records hold none).
static std::vector<std::string> replies_of(const std::string& out) {
    std::vector<std::string> replies;
    for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
        replies.push_back(out.substr(at, end - at));
    return replies;
}

// Records as large as the command lines below allow; written in one piece each.
constexpr size_t kBody = 1200;
constexpr int kPerLaunch = 20;
const std::string kGet = "kestrelV1 getNews ";

// Keeps launching readers of the news record, kPerLaunch reads each, until told to
// stop; counts the reads and the ones that found no complete record.
struct Reader {
    std::atomic<bool> running{true};
    std::atomic<int> reads{0}, bad{0};
    std::thread thread{[this] {
        while (running) {
            Launch l = run_news(std::vector<std::string>(kPerLaunch, kGet));
            std::vector<std::string> replies = replies_of(l.out);
            if (l.exit_code != 0 || replies.size() != size_t(kPerLaunch)) ++bad;
            for (const std::string& r : replies) {
                ++reads;
                if (counter_in(r, kGet, kBody) < 0) ++bad;
            }
        }
    }};
    void stop() {
        running = false;
        thread.join();
    }
};

// Several processes increment one counter record with compare-and-swap while others
// read it. Each launch tries a chain of increments, one swap per expected count, and
// ends with a read: every attempt without a conflict reply was a swap. Every swap is
// counted exactly once, and no reply ever holds an empty or partial record.
TEST_F(NewsTool, ProcessesSwapACounterWithoutLosingAnIncrement) {
    constexpr int kIncrementers = 3, kLaunches = 8;
    const std::string conflict = "kestrelV1 syncNewsConflict ";
    Launch first = run_news({"kestrelV1 syncNews - " + counter_record(0, kBody)});
    ASSERT_EQ(first.exit_code, 0u) << first.err;
    ASSERT_EQ(first.out, "");

    std::atomic<int> swaps{0}, bad_launches{0};
    Reader reader;
    std::vector<std::thread> incrementers;
    for (int i = 0; i < kIncrementers; ++i)
        incrementers.emplace_back([&] {
            long known = 0;
            for (int launch = 0; launch < kLaunches; ++launch) {
                std::vector<std::string> chain;
                for (long n = known; n < known + kPerLaunch; ++n)
                    chain.push_back("kestrelV1 syncNews " + tag_of(unsigned(n)) + " " +
                                    counter_record(unsigned(n + 1), kBody));
                chain.push_back(kGet);
                Launch l = run_news(chain);
                std::vector<std::string> replies = replies_of(l.out);
                long now = replies.empty() ? -1 : counter_in(replies.back(), kGet, kBody);
                bool conflicts_complete = true;
                for (size_t r = 0; r + 1 < replies.size(); ++r)
                    conflicts_complete &= counter_in(replies[r], conflict, kBody) > known;
                if (l.exit_code != 0 || now < known || !conflicts_complete) {
                    ++bad_launches;
                    return;
                }
                swaps += kPerLaunch - int(replies.size() - 1);
                known = now;
            }
        });
    for (std::thread& t : incrementers) t.join();
    reader.stop();

    EXPECT_EQ(bad_launches, 0);
    EXPECT_EQ(reader.bad, 0) << "of " << reader.reads << " reads";
    Launch last = run_news({kGet});
    ASSERT_EQ(replies_of(last.out).size(), 1u);
    EXPECT_EQ(counter_in(replies_of(last.out)[0], kGet, kBody), long(swaps));
    EXPECT_GT(reader.reads, 0);
    RecordProperty("swaps", swaps);
    RecordProperty("reads", reader.reads);
    RecordProperty("start_failures", start_failures());
}

// Processes overwriting the record with the plain write while others read it: no
// reader ever finds it emptied or half written.
TEST_F(NewsTool, ProcessesReadingNeverSeeAPlainWriteHalfDone) {
    constexpr int kWriters = 2, kLaunches = 6;
    ASSERT_EQ(run_news({"kestrelV1 syncNewsForce " + counter_record(0, kBody)}).exit_code, 0u);
    std::atomic<int> failed_writes{0};
    Reader readers[2];
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            for (int launch = 0; launch < kLaunches; ++launch) {
                std::vector<std::string> writes;
                for (int i = 0; i < kPerLaunch; ++i)
                    writes.push_back("kestrelV1 syncNewsForce " +
                                     counter_record(unsigned(w + 2 * i), kBody));
                Launch l = run_news(writes);
                if (l.exit_code != 0 || !l.out.empty()) ++failed_writes;
            }
        });
    for (std::thread& t : writers) t.join();
    for (Reader& r : readers) r.stop();
    EXPECT_EQ(failed_writes, 0);
    for (Reader& r : readers) {
        EXPECT_GT(r.reads, 0);
        EXPECT_EQ(r.bad, 0) << "of " << r.reads << " reads";
    }
}
