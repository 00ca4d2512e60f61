#include "Apps/corvexis/Workspace.h"

#include <gtest/gtest.h>

namespace Corvexis {
namespace {

// Known identifiers of this test; "X" resolves to "Test.X" as the host resolves short names.
std::string resolve(const std::string& id, std::string* why)
{
    for (const char* known : {"Test.Source", "Test.Probe", "Test.Forward"}) {
        if (id == known || "Test." + id == known)
            return known;
    }
    *why = "unknown algorithm '" + id + "'";
    return {};
}

std::optional<Workspace> parse(const std::string& text, std::string* error)
{
    PropertiesIO::SourceLines lines;
    std::string why;
    auto tree = PropertiesIO::loadFromString(text, &why, &lines);
    if (!tree) {
        *error = "syntax: " + why;
        return std::nullopt;
    }
    return Workspace::parse(std::move(tree), std::move(lines), "w.ws", &resolve, error);
}

const std::string kValid = R"(Workspace {
    seconds = 2.5
    Step {
        name = source
        algorithm = Source
        outputs = "image tracking"
        Configuration {
            fps = 60
            descriptor.width = 20
        }
    }
    Step {
        algorithm = Test.Forward
        inputs = "image tracking"
    }
    Step {
        name = probe
        algorithm = Probe
        inputs = tracking
    }
    Timeline {
        Action {
            at = 2
            save = image
            file = a.cvx
        }
        Action {
            at = 0.5
            request = pause
            output = image
        }
        Action {
            at = 0.5
            action = poke
            step = probe
        }
        Action {
            at = 1
            compute = probe
        }
    }
}
)";

TEST(WorkspaceTest, AValidFileGivesStepsInOrderAndTheTimelineByTime)
{
    std::string error;
    auto w = parse(kValid, &error);
    ASSERT_TRUE(w) << error;
    EXPECT_EQ(w->seconds, 2.5);
    ASSERT_EQ(w->steps.size(), 3u);
    EXPECT_EQ(w->steps[0].algorithm, "Test.Source");
    EXPECT_EQ(w->steps[0].outputs, (std::vector<std::string>{"image", "tracking"}));
    ASSERT_NE(w->steps[0].configuration, nullptr);
    EXPECT_EQ(*w->steps[0].configuration->paramText("descriptor.width"), "20");
    EXPECT_EQ(w->lines.key(w->steps[0].configuration, "fps"), 8);
    // An unnamed step is named by its place and gives its outputs no names.
    EXPECT_EQ(w->steps[1].name, "step2");
    EXPECT_TRUE(w->steps[1].outputs.empty());
    EXPECT_EQ(w->steps[1].inputs, (std::vector<std::string>{"image", "tracking"}));
    // A named step without 'outputs' names its first output after itself.
    EXPECT_EQ(w->steps[2].outputs, std::vector<std::string>{"probe"});
    EXPECT_EQ(w->steps[2].line, 16);  // where its block opens

    ASSERT_EQ(w->timeline.size(), 4u);
    using Kind = Workspace::Action::Kind;
    // Sorted by time; equal times keep the file's order.
    EXPECT_EQ(w->timeline[0].kind, Kind::Request);
    EXPECT_EQ(w->timeline[0].describe(), "pause image");
    EXPECT_EQ(w->timeline[0].line, 27);
    EXPECT_EQ(w->timeline[1].kind, Kind::AlgorithmAction);
    EXPECT_EQ(w->timeline[1].describe(), "poke on probe");
    EXPECT_EQ(w->timeline[2].kind, Kind::Compute);
    EXPECT_EQ(w->timeline[3].kind, Kind::Save);
    EXPECT_EQ(w->timeline[3].describe(), "save image to a.cvx");
    EXPECT_EQ(w->producerOf("tracking"), 0);
    EXPECT_EQ(w->producerOf("nothing"), -1);
}

// Each bad input names the file and the line of the offending item.
TEST(WorkspaceTest, BadInputNamesFileAndLine)
{
    struct Case
    {
        std::string text;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"Workspace {\n Step {\n  algorithm = Sourse\n }\n}\n", "w.ws:3: unknown algorithm 'Sourse'"},
        {"Workspace {\n Step {\n  name = a\n }\n}\n", "w.ws:2: Step without 'algorithm'"},
        {"Workspace {\n Step {\n  algorithm = Source\n  outputs = img\n }\n Step {\n  algorithm = Probe\n"
         "  inputs = imgs\n }\n}\n",
         "w.ws:8: unknown input 'imgs'; did you mean 'img'?"},
        {"Workspace {\n Step {\n  algorithm = Probe\n  inputs = later\n }\n Step {\n  algorithm = Source\n"
         "  outputs = later\n }\n}\n",
         "w.ws:4: input 'later' is an output of a later step (line 6)"},
        {"Workspace {\n Step {\n  algorithm = Source\n  outputs = a\n }\n Timeline {\n  Action {\n   at = "
         "1.5s\n"
         "   request = pause\n   output = a\n  }\n }\n}\n",
         "w.ws:8: malformed time '1.5s'"},
        {"Workspace {\n Step {\n  algorithm = Source\n  outputs = a\n }\n Timeline {\n  Action {\n   at = "
         "-1\n"
         "   request = pause\n   output = a\n  }\n }\n}\n",
         "w.ws:8: malformed time '-1'"},
        {"Workspace {\n Step {\n  algorithm = Source\n  outputs = a\n }\n Timeline {\n  Action {\n   at = 1\n"
         "   request = pause\n   output = b\n  }\n }\n}\n",
         "w.ws:10: no output named 'b'"},
        {"Workspace {\n Step {\n  algorithm = Source\n  outputs = a\n }\n Timeline {\n  Action {\n   at = 1\n"
         "   action = poke\n   step = nobody\n  }\n }\n}\n",
         "w.ws:10: no step named 'nobody'"},
        {"Workspace {\n Step {\n  algorithm = Source\n  outputs = a\n }\n Timeline {\n  Action {\n   at = 1\n"
         "   request = jump\n   output = a\n  }\n }\n}\n",
         "w.ws:9: unknown request 'jump' (requests: open, start, pause, resume, stop, close)"},
        {"Workspace {\n Step {\n  algorithm = Source\n  outputs = a\n }\n Step {\n  algorithm = Source\n"
         "  outputs = \"b a\"\n }\n}\n",
         "w.ws:8: duplicate output name 'a' (first on line 4)"},
        {"Workspace {\n Step {\n  name = a\n  algorithm = Source\n }\n Step {\n  name = a\n  algorithm = "
         "Probe\n"
         " }\n}\n",
         "w.ws:7: duplicate step name 'a'"},
        {"Workspace {\n Step {\n  algorithm = Source\n  input = x\n }\n}\n",
         "w.ws:4: unknown key 'input' in Step; did you mean 'inputs'?"},
        {"Workspace {\n Steps {\n }\n}\n", "w.ws:2: unknown block 'Steps' in Workspace"},
        {"Workspace {\n Step {\n  algorithm = Source\n  outputs = a\n }\n Timeline {\n  Action {\n   at = 1\n"
         "   request = pause\n   compute = a\n  }\n }\n}\n",
         "w.ws:7: an Action needs exactly one of"},
        {"Space {\n}\n", "w.ws:1: the top block must be named Workspace"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(parse(c.text, &error)) << c.expected;
        EXPECT_EQ(error.rfind(c.expected, 0), 0u) << "expected: " << c.expected << "\n     got: " << error;
    }
}

TEST(WorkspaceTest, LoadReportsSyntaxErrorsWithTheLine)
{
    const std::string path = ::testing::TempDir() + "/workspace-syntax.ws";
    {
        FILE* f = std::fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("Workspace {\n  Step {\n    algorithm Source\n  }\n}\n", f);
        std::fclose(f);
    }
    std::string error;
    EXPECT_FALSE(Workspace::load(path, &resolve, &error));
    EXPECT_EQ(error.rfind(path + ":3: column", 0), 0u) << error;
    std::remove(path.c_str());

    EXPECT_FALSE(Workspace::load(path, &resolve, &error));
    EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
}

}  // namespace
}  // namespace Corvexis
