// emberpress-state, run as a program on real files.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "run_tool.h"
#include "state_test_support.h"

namespace {

// A file in the test's temporary folder, removed at the end of the scope.
struct TempFile {
    std::string path;
    TempFile(const char* name, const Bytes& content) : path(testing::TempDir() + name) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr) << path;
        if (f) {
            std::fwrite(content.data(), 1, content.size(), f);
            std::fclose(f);
        }
    }
    ~TempFile() { std::remove(path.c_str()); }
};

int count_lines(const std::string& s) {
    int n = 0;
    for (char c : s) n += c == '\n';
    return n;
}

void expect_line(const std::string& out, const std::string& words) {
    // Column padding aside, each word appears in order on one line.
    std::string flat;
    for (size_t i = 0; i < out.size(); ++i)
        if (!(out[i] == ' ' && (flat.empty() || flat.back() == ' '))) flat += out[i];
    EXPECT_NE(flat.find(words), std::string::npos) << "missing: " << words << "\nin:\n" << out;
}

} // namespace

TEST(Inspector, DumpsAGoldenState) {
    const TempFile file("emberpress-golden.state", golden_state("vst3"));
    const ToolRun run = run_state_tool({"dump", file.path});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    for (const char* line :
         {"dsp.tar 4096 bytes", "info.map 196 bytes", "parameters.map 100 bytes", "version 3 bytes",
          "id fernwood-emberpress", "version 1.2.1.1", "format vst3", "platform windows",
          "sample rate 48000 Hz", "Drive 50 %", "Tone 50 %", "Heat 50 %", "Mix 100 %",
          "Volume 100 %", "Bypass 0 (processing)"})
        expect_line(run.out, line);
}

TEST(Inspector, ShowsOddValuesAndUnknownMembersOfAState) {
    const float values[6] = {-3.5f, 100, 0.25f, 12, 200, 1};
    const Bytes state = state_bytes({{"info.map", info_map_bytes("lv2", "linux", 44100)},
                                     {"parameters.map", parameters_map_bytes(values)},
                                     {"version", "1.0\n"},
                                     {"zz-notes", "hello"}},
                                    {{"attachment", Bytes(600, 'a')}});
    const TempFile file("emberpress-odd.state", state);
    const ToolRun run = run_state_tool({"dump", file.path});
    EXPECT_EQ(run.status, 0) << run.err;
    for (const char* line : {"attachment 600 bytes", "zz-notes 5 bytes", "version 4 bytes",
                             "format lv2", "platform linux", "sample rate 44100 Hz", "Drive -3.5 %",
                             "Heat 0.25 %", "Bypass 1 (bypassed)"})
        expect_line(run.out, line);
}

TEST(Inspector, RefusesABadFileWithOneMessage) {
    const TempFile cut("emberpress-cut.state", golden_state("vst3").substr(0, 3000));
    const TempFile text("emberpress-text.state", "just some text\n");
    for (const TempFile* f : {&cut, &text}) {
        const ToolRun run = run_state_tool({"dump", f->path});
        EXPECT_EQ(run.status, 1) << f->path;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(count_lines(run.err), 1) << run.err;
        EXPECT_NE(run.err.find(f->path), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("not an Emberpress state"), std::string::npos) << run.err;
    }
    const ToolRun missing = run_state_tool({"dump", testing::TempDir() + "no-such-file.state"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(count_lines(missing.err), 1) << missing.err;
    EXPECT_NE(missing.err.find("cannot read"), std::string::npos) << missing.err;
}

TEST(Inspector, FlagsAStateThePluginWouldRefuse) {
    const Bytes state = state_bytes({{"info.map", map_record("id", "someone-else")},
                                     {"parameters.map", map_record("drive", "abc")},
                                     {"version", "1.0"}});
    const TempFile file("emberpress-foreign.state", state);
    const ToolRun run = run_state_tool({"dump", file.path});
    EXPECT_EQ(run.status, 1);
    expect_line(run.out, "id someone-else");
    expect_line(run.out, "Drive (3 bytes, not a 4-byte value)");
    expect_line(run.out, "Tone (missing)");
    EXPECT_NE(run.err.find("would refuse"), std::string::npos) << run.err;
}

TEST(Inspector, HelpAndUsage) {
    const ToolRun help = run_state_tool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("emberpress-state dump FILE"), std::string::npos);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"dump"}, {"show", "x"}, {"dump", "a", "b"}}) {
        const ToolRun run = run_state_tool(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("usage:"), std::string::npos);
    }
}
