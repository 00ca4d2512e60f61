#include "Host/Core/PropertiesIO.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>
#include <Eigen/Core>

using namespace Corvexis;

namespace {

// Parses and expects a refusal whose message starts with the given line and column and holds `fragment`.
void expectRefused(const std::string& text, const std::string& where, const std::string& fragment)
{
    std::string error;
    EXPECT_EQ(PropertiesIO::loadFromString(text, &error), nullptr) << text;
    EXPECT_EQ(error.rfind(where + ": ", 0), 0u) << "error: " << error;
    EXPECT_NE(error.find(fragment), std::string::npos) << "error: " << error;
}

Properties sampleTree()
{
    Properties p("StreamSettings");
    p.setAttribute("label", "Stream");
    p.setParam("defaultStreamRecorderPath", "C:/Temp/CorvexisRecordings");
    p.setParamAttribute("defaultStreamRecorderPath", "OpenDirectory", "true");
    p.setParam("streamInactivityTimeout", 2000);
    p.setParamAttribute("streamInactivityTimeout", "label", "Stream inactivity timeout [ms]");
    p.setParam("third", 1.0 / 3.0);
    p.setParam("matrix", Eigen::Matrix4d::Identity().eval());
    Properties* devices = p.addSubProperties("Devices");
    devices->addSubProperties("OscillatingDevice")->setParam("name", "Probe \"A\"\nsecond line");
    devices->addSubProperties("SweepDevice");
    devices->addSubProperties("OscillatingDevice")->setParam("enabled", false);
    return p;
}

}  // namespace

TEST(PropertiesIOTest, TreeRoundTripsThroughText)
{
    const Properties tree = sampleTree();
    const std::string text = PropertiesIO::saveToString(tree);
    std::string error;
    const auto back = PropertiesIO::loadFromString(text, &error);
    ASSERT_NE(back, nullptr) << error;
    EXPECT_EQ(*back, tree);
    EXPECT_EQ(PropertiesIO::saveToString(*back), text);
    EXPECT_EQ(back->subProperties("Devices")->subPropertiesList("OscillatingDevice").size(), 2u);
}

TEST(PropertiesIOTest, TextIsReadableAndQuotesOnlyWhatNeedsIt)
{
    Properties p("cmd");
    p.setParam("path", "C:/Temp/x.bin");
    p.setParam("spacing", Eigen::Vector2d(0.5, 0.25));
    p.setParam("empty", "");
    p.setParamAttribute("path", "label", "Output file");
    EXPECT_EQ(PropertiesIO::saveToString(p),
              "cmd {\n"
              "    path = C:/Temp/x.bin [label = \"Output file\"]\n"
              "    spacing = \"0.5 0.25\"\n"
              "    empty = \"\"\n"
              "}\n");
    EXPECT_EQ(PropertiesIO::saveToString(Properties()), "\"\" {\n}\n");
}

TEST(PropertiesIOTest, EveryByteOfTextsSurvives)
{
    std::string allBytes;
    for (int c = 0; c < 256; ++c)
        allBytes += static_cast<char>(c);
    Properties p(allBytes);
    p.setParam(allBytes, allBytes);
    p.setParamAttribute(allBytes, allBytes, allBytes);
    p.setParam("utf8", "gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x98\x80");
    p.setParam("invalidUtf8", "\xff\xfe\xc3");
    p.setParam("quotes", "\"\"''\\\\\"");
    p.addSubProperties("")->setParam("", "");
    const std::string text = PropertiesIO::saveToString(p);
    // Written on one line per item: no raw line breaks inside values.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 9);
    const auto back = PropertiesIO::loadFromString(text);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(*back, p);
    // Non-ASCII text stays readable rather than escaped.
    EXPECT_NE(text.find("\xe2\x82\xac"), std::string::npos);
}

TEST(PropertiesIOTest, HandWrittenFormsAreAccepted)
{
    const std::string text =
        "\xEF\xBB\xBF# settings written by hand\r\n"
        "Root[label=Top]{a=1 b = \"two words\" # trailing comment\r\n"
        "  c = -3.5 [ min = -10 , max = 10 ]\n"
        "  Child { } Child [] { x = \"\\x41\\t\" }\n"
        "}\n";
    std::string error;
    const auto p = PropertiesIO::loadFromString(text, &error);
    ASSERT_NE(p, nullptr) << error;
    EXPECT_EQ(p->name(), "Root");
    EXPECT_EQ(p->attribute("label"), "Top");
    EXPECT_EQ(p->paramNames(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(p->param("b", ""), "two words");
    EXPECT_EQ(p->paramAttribute("c", "max"), "10");
    ASSERT_EQ(p->subPropertiesList("Child").size(), 2u);
    EXPECT_EQ(p->subPropertiesList("Child")[1]->param("x", ""), "A\t");
}

TEST(PropertiesIOTest, MalformedTextIsRefusedNamingLineAndColumn)
{
    expectRefused("", "line 1, column 1", "expected the name of the top block");
    expectRefused("a {\n  k = 1\n", "line 3, column 1", "opened on line 1");
    expectRefused("a {\n  k = 1\n  k = 2\n}", "line 3, column 3", "appears twice");
    expectRefused("a {\n  k = \"open\n}", "line 2, column 7", "not closed");
    expectRefused("a {\n  k = \"\\q\"\n}", "line 2, column 8", "unknown escape");
    expectRefused("a {\n  k = \"\\x4\"\n}", "line 2, column 8", "two hexadecimal digits");
    expectRefused("a {\n  k =\n}", "line 3, column 1", "expected the value of 'k'");
    expectRefused("a {\n  k = 1 [min = 1 max = 2]\n}", "line 2, column 18", "expected ',' or ']'");
    expectRefused("a {\n  k = 1 [min = 1, min = 2]\n}", "line 2, column 19", "appears twice");
    expectRefused("a {\n  k }\n}", "line 2, column 3", "expected '=' or '{' after 'k', found '}'");
    expectRefused("a { } b { }", "line 1, column 7", "after the end of the top block");
    expectRefused("a { }}", "line 1, column 6", "after the end of the top block");
    expectRefused("a {\n  k = v\x01\n}", "line 2, column 8", "control character 0x01");
    expectRefused("a = 1", "line 1, column 3", "expected '{'");
}

TEST(PropertiesIOTest, LimitsBoundDepthAndSize)
{
    const int depth = PropertiesIO::kMaxDepth;
    std::string deepest;
    for (int i = 0; i < depth; ++i)
        deepest += "b{";
    deepest += std::string(depth, '}');
    auto p = PropertiesIO::loadFromString(deepest);
    ASSERT_NE(p, nullptr);

    const std::string tooDeep = "b{" + deepest + "}";
    expectRefused(tooDeep, "line 1, column " + std::to_string(2 * depth + 1), "nested deeper");

    // A very deep opening (no recursion) is refused quickly rather than exhausting the stack.
    std::string hostile;
    for (int i = 0; i < 200000; ++i)
        hostile += "b{";
    expectRefused(hostile, "line 1, column " + std::to_string(2 * depth + 1), "nested deeper");

    std::string tooLong(PropertiesIO::kMaxTextBytes + 1, ' ');
    expectRefused(tooLong, "line 1, column 1", "at most");
}

TEST(PropertiesIOTest, ManyParametersInOneBlockParseInLinearTime)
{
    std::string text = "big {\n";
    for (int i = 0; i < 200000; ++i)
        text.append("k").append(std::to_string(i)).append(" = ").append(std::to_string(i)).append("\n");
    text += "}\n";
    const auto p = PropertiesIO::loadFromString(text);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->paramCount(), 200000u);
    EXPECT_EQ(p->param("k199999", 0), 199999);
}

TEST(PropertiesIOTest, FilesAreReplacedWholeAndRefusedWithThePath)
{
    const auto dir =
        std::filesystem::temp_directory_path() / ("PropertiesIOTest-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "settings.txt").string();

    const Properties tree = sampleTree();
    std::string error;
    ASSERT_TRUE(PropertiesIO::saveToFile(tree, path, &error)) << error;
    auto back = PropertiesIO::loadFromFile(path, &error);
    ASSERT_NE(back, nullptr) << error;
    EXPECT_EQ(*back, tree);
    // Only the final file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()),
              1);

    std::ofstream(path) << "x {\n  y\n}\n";
    EXPECT_EQ(PropertiesIO::loadFromFile(path, &error), nullptr);
    EXPECT_EQ(error.rfind(path + ": line 2", 0), 0u) << error;

    EXPECT_EQ(PropertiesIO::loadFromFile((dir / "missing").string(), &error), nullptr);
    EXPECT_EQ(error.rfind((dir / "missing").string() + ": ", 0), 0u);
    EXPECT_FALSE(PropertiesIO::saveToFile(tree, (dir / "no-dir" / "x.txt").string(), &error));
    std::filesystem::remove_all(dir);
}
