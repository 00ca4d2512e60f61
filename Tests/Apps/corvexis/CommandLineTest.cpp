#include "Apps/corvexis/CommandLine.h"

#include <gtest/gtest.h>

#include "Apps/corvexis/CommandRegistry.h"
#include "Apps/corvexis/HostApplication.h"

namespace Corvexis {
namespace {

std::optional<CommandLine> parse(std::vector<std::string> arguments, std::string* error = nullptr)
{
    return CommandLine::parse(arguments, error);
}

TEST(CommandLineTest, RunTakesSettingsOptionsAndActionsInAnyOrder)
{
    auto line =
        parse({"--plugins", "/a", "run", "Stream.X", "fps=30", "--seconds", "2.5", "name=a=b", "--action",
               "stop", "--plugins", "/b", "--config", "c.txt", "--log-level", "1", "empty="});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->command, "run");
    EXPECT_EQ(line->arguments, std::vector<std::string>{"Stream.X"});
    EXPECT_EQ(line->pluginDirectories, (std::vector<std::string>{"/a", "/b"}));
    ASSERT_EQ(line->settings.size(), 3u);
    EXPECT_EQ(line->settings[0], (std::pair<std::string, std::string>{"fps", "30"}));
    // Only the first '=' separates: values may contain more.
    EXPECT_EQ(line->settings[1], (std::pair<std::string, std::string>{"name", "a=b"}));
    EXPECT_EQ(line->settings[2], (std::pair<std::string, std::string>{"empty", ""}));
    EXPECT_DOUBLE_EQ(*line->seconds, 2.5);
    EXPECT_EQ(line->actions, std::vector<std::string>{"stop"});
    EXPECT_EQ(line->configFile, "c.txt");
    EXPECT_EQ(line->logLevel, 1);
}

TEST(CommandLineTest, MalformedInputIsRefusedWithOneLine)
{
    struct Case
    {
        std::vector<std::string> arguments;
        std::string fragment;
    };
    const std::vector<Case> cases{
        {{}, "no command"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"run"}, "needs an algorithm identifier"},
        {{"run", "X", "novalue"}, "malformed setting 'novalue'"},
        {{"run", "X", "=3"}, "malformed setting '=3'"},
        {{"run", "X", "a b=3"}, "malformed setting 'a b=3'"},
        {{"show"}, "one algorithm identifier"},
        {{"show", "A", "B"}, "one algorithm identifier"},
        {{"list", "extra"}, "takes no arguments"},
        {{"list", "--seconds", "3"},
         "option --seconds is not taken by 'list' (it is taken by demo, net-latency, play, record, run, workspace)"},
        {{"show", "X", "--snapshot", "d"}, "not taken by 'show'"},
        {{"workspace"}, "'workspace' takes one workspace file"},
        {{"workspace", "a", "b"}, "'workspace' takes one workspace file"},
        {{"workspace", "a", "fps=3"}, "'workspace' takes one workspace file"},
        {{"workspace", "a", "--config", "c"}, "not taken by 'workspace'"},
        {{"run", "X", "--seconds"}, "needs a value"},
        {{"run", "X", "--seconds", "-1"}, "non-negative"},
        {{"run", "X", "--seconds", "3s"}, "non-negative"},
        {{"--log-level", "5", "list"}, "0 (trace) to 4"},
        {{"--bogus", "list"}, "unknown option '--bogus'"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(parse(c.arguments, &error)) << c.fragment;
        EXPECT_NE(error.find(c.fragment), std::string::npos) << "got: " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

TEST(CommandLineTest, HelpWinsAndDemoNeedsNoArguments)
{
    EXPECT_EQ(parse({"run", "--help"})->command, "help");
    auto demo = parse({"demo", "--snapshot", "/tmp/s"});
    ASSERT_TRUE(demo);
    EXPECT_EQ(demo->command, "demo");
    EXPECT_FALSE(demo->seconds);
    EXPECT_EQ(demo->snapshotDirectory, "/tmp/s");
}

// A command registered by a file of its own is parsed, listed in the usage and checked like the others.
TEST(CommandLineTest, ARegisteredCommandJoinsTheLine)
{
    const CommandRegistration extra({.name = "zz-extra",
                                     .arguments = "A B",
                                     .summary = "a command of this test",
                                     .argumentsHint = "two names",
                                     .minArguments = 2,
                                     .maxArguments = 2,
                                     .options = {"--seconds"},
                                     .run = [](HostApplication&, const CommandLine&) { return 7; }});
    auto line = parse({"zz-extra", "a", "b", "--seconds", "1"});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->arguments, (std::vector<std::string>{"a", "b"}));
    std::string error;
    EXPECT_FALSE(parse({"zz-extra", "a"}, &error));
    EXPECT_EQ(error, "'zz-extra' takes two names");
    const std::string usage = CommandLine::usage();
    EXPECT_NE(usage.find("zz-extra A B [--seconds N]"), std::string::npos) << usage;
    EXPECT_LT(usage.find("workspace FILE"), usage.find("zz-extra"));
    const Command* command = CommandRegistry::get().find("zz-extra");
    ASSERT_NE(command, nullptr);
    HostApplication host;
    EXPECT_EQ(command->run(host, *line), 7);
}

}  // namespace
}  // namespace Corvexis
