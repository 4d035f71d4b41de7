// The news store wired into the view's editor: "m kestrelV1 ..." page messages reach
// the store under the (test's own) APPDATA, and its replies come back to the page as
// "m kestrelV1 ...". Two plug-in instances share the store.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "view_host.h"

namespace {

std::vector<std::string> news_replies(int browser) {
    std::vector<std::string> replies;
    for (auto& post : page_posts(browser))
        if (post.rfind("m ", 0) == 0) replies.push_back(post);
    return replies;
}

std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST_F(ViewTest, PageNewsCommandsReachTheStoreAndTheRepliesComeBack) {
    with_time_limit([&] {
        Session first, second;
        OpenView a = open_view(first), b = open_view(second);
        const std::filesystem::path store = std::filesystem::path(appdata_folder_) / "Fernwood";

        deliver(a.browser, L"m kestrelV1 init emberpress");
        EXPECT_EQ(news_replies(a.browser), std::vector<std::string>{"m kestrelV1 initDone "});
        deliver(a.browser, L"m kestrelV1 syncNews - 00000001|first news");
        deliver(a.browser, L"m kestrelV1 newSid s\u00efd-7"); // not ASCII on either side
        EXPECT_EQ(file_text(store / "kestrel-news"), "00000001|first news");
        EXPECT_EQ(file_text(store / "kestrel-system"), "s\u00efd-7") << "stored as UTF-8";

        // The other instance's page sees the same store.
        deliver(b.browser, L"m kestrelV1 init emberpress");
        deliver(b.browser, L"m kestrelV1 syncNews - 00000002|stale");
        deliver(b.browser, L"m kestrelV1 syncNews 00000001 00000002|second");
        EXPECT_EQ(news_replies(b.browser),
                  (std::vector<std::string>{"m kestrelV1 initSid s\u00efd-7",
                                            "m kestrelV1 initNews 00000001|first news",
                                            "m kestrelV1 initDone ",
                                            "m kestrelV1 syncNewsConflict 00000001|first news"}));
        deliver(a.browser, L"m kestrelV1 getNews ");
        EXPECT_EQ(news_replies(a.browser).back(), "m kestrelV1 getNews 00000002|second");

        EXPECT_TRUE(first.handler.calls.empty() && second.handler.calls.empty())
            << "store commands never reach the host";
        EXPECT_EQ(page_posts(a.browser).size(), 6u + 2u) << "the values, then the two replies";
        close_view(a);
        close_view(b);
        expect_nothing_left({a.browser, b.browser});
    });
}
