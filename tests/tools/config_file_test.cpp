#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "closest_name.h"
#include "config_file.h"
#include "options.h"

namespace {

using namespace ekrender;

std::vector<ConfigEntry> read(const std::string &text, ConfigSyntax syntax) {
  std::vector<ConfigEntry> entries;
  ConfigProblem problem;
  EXPECT_TRUE(parseConfigText(text, syntax, "ekrender", entries, problem))
      << "line " << problem.line << ": " << problem.message;
  return entries;
}

// "line: key = value | value" for each entry, to compare whole files at once.
std::vector<std::string> summary(const std::vector<ConfigEntry> &entries) {
  std::vector<std::string> lines;
  for (const ConfigEntry &entry : entries) {
    std::string line = std::to_string(entry.line) + ": " + entry.key + (entry.list ? " = [" : " =");
    for (size_t k = 0; k < entry.values.size(); ++k)
      line += (k ? " | " : " ") + entry.values[k];
    lines.push_back(line);
  }
  return lines;
}

TEST(EkrenderConfigFile, ReadsTomlAsTomlSays) {
  const auto entries = read("# a job\n"
                            "output = \"frames/v2.png\"   # was v1\n"
                            "input = 'C:\\caches\\smoke.####.ply'\n"
                            "count = 1_000  \n"
                            "aperture = 0.4\n"
                            "transparent = true#on\n"
                            "\n"
                            "[ekrender]  # the program's own section\n"
                            "\"eye\" = \"0,9,26 # ; \\\"x\\\"\\t\\u00e9\"\n"
                            "light = [\n"
                            "  \"point\",  # the key light\n"
                            "  \"spot:pos=0,9,0\", ]\n"
                            "up = \"0,1,0\"\r\n",
                            ConfigSyntax::Toml);
  EXPECT_EQ(summary(entries),
            (std::vector<std::string>{"2: output = frames/v2.png",
                                      "3: input = C:\\caches\\smoke.####.ply", "4: count = 1000",
                                      "5: aperture = 0.4", "6: transparent = true",
                                      "9: eye = 0,9,26 # ; \"x\"\t\xC3\xA9",
                                      "10: light = [ point | spot:pos=0,9,0", "13: up = 0,1,0"}));
}

TEST(EkrenderConfigFile, ReadsIniAsIniSays) {
  const auto entries = read("; a job\n"
                            "  # also a comment\n"
                            "output = my frames/v2.png\n"
                            "input = cache.####.ply ; the cache\n"
                            "device = cpu # the farm has no GPU\n"
                            "eye = 0,9,26;no space needed before ;\n"
                            "[ekrender]\n"
                            "transparent\n"
                            "light = \"spot:pos=0,9,0 ; # \\\"x\\\"\"\n"
                            "light = 'point'\n"
                            "up = \"C:\\frames\\\\\"\n"
                            "target = \n"
                            "ambient = [0.1, \"0.2\" ; inline\n"
                            "  ]\n",
                            ConfigSyntax::Ini);
  EXPECT_EQ(summary(entries),
            (std::vector<std::string>{"3: output = my frames/v2.png", "4: input = cache.####.ply",
                                      "5: device = cpu", "6: eye = 0,9,26",
                                      "8: transparent =", "9: light = spot:pos=0,9,0 ; # \"x\"",
                                      "10: light = point", "11: up = C:\\frames\\",
                                      "12: target = ", "13: ambient = [ 0.1 | 0.2"}));
}

TEST(EkrenderConfigFile, ProblemsNameTheirLine) {
  struct Case {
    ConfigSyntax syntax;
    std::string text;
    int line;
    std::string message;
  };
  const ConfigSyntax ini = ConfigSyntax::Ini, toml = ConfigSyntax::Toml;
  const std::vector<Case> cases = {
      {ini, "size = 64x36\n[render]\nsize = 1x1\n", 2,
       "unknown section [render]: settings go at the top of the file or under [ekrender]"},
      {toml, "[[ekrender]]\n", 1, "unknown section [[ekrender]]"},
      {toml, "[ekrender]\n[ekrender]\n", 2, "[ekrender] is opened a second time"},
      {ini, "[ekrender\n", 1, "the section name is not closed with ]"},
      {ini, "\n\noutput = \"frames/v2.png\n", 3, "the quote \" is not closed on its line"},
      {toml, "output = 'a.png\nsize = '1x1'\n", 1, "the quote ' is not closed on its line"},
      {ini, "output = \"a.png\" b\n", 1, "unexpected \"b\" at the end of the line"},
      {toml, "output = frames/v2.png   # was v1\n", 1,
       "text values are written in quotes in TOML: \"frames/v2.png\""},
      {toml, "size = \n", 1, "no value after \"size =\""},
      {toml, "transparent\n", 1, "expected = after \"transparent\""},
      {toml, "ekrender.size = \"1x1\"\n", 1, "dotted names are not read"},
      {toml, "output = \"a\\qb\"\n", 1, "unknown escape \"\\q\""},
      {toml, "output = \"\\uD800\"\n", 1, "unknown escape \"\\uD800\""},
      {toml, "output = \"\"\"a\"\"\"\n", 1, "multi-line strings are not read"},
      {ini, "= 3\n", 1, "a value without a name"},
      {toml, "\nlight = [\"point\",\n\n", 2, "the list is not closed with ]"},
      {toml, "light = [\"point\" \"spot\"]\n", 1, "expected , or ] in the list"},
      {ini, "light = [[point]]\n", 1, "lists inside lists are not read"},
      {ini, "light = [point, , spot]\n", 1, "an empty item in the list"},
      {ini, "size = 1x1\n\x89PNG\r\n\x1a\n", 2, "not a text file (byte 0x89 is not text)"},
      {ini, std::string("size = 1x1\nout\0put\n", 19), 2,
       "not a text file (byte 0x00 is not text)"},
      {toml, "# caf\xC3\xA9\noutput = \"caf\xE9.png\"\n", 2, "byte 0xE9 is not text"},
  };
  for (const Case &c : cases) {
    std::vector<ConfigEntry> entries;
    ConfigProblem problem;
    EXPECT_FALSE(parseConfigText(c.text, c.syntax, "ekrender", entries, problem)) << c.text;
    EXPECT_EQ(problem.line, c.line) << c.text;
    EXPECT_NE(problem.message.find(c.message), std::string::npos)
        << c.text << "\ngave: " << problem.message;
  }
}

TEST(EkrenderConfigFile, SyntaxFollowsTheName) {
  EXPECT_EQ(configSyntaxFor("jobs/shot.TOML"), ConfigSyntax::Toml);
  EXPECT_EQ(configSyntaxFor("jobs.toml/shot.ini"), ConfigSyntax::Ini);
  EXPECT_EQ(configSyntaxFor("shot.cfg"), ConfigSyntax::Ini);
  EXPECT_EQ(configSyntaxFor("shot"), ConfigSyntax::Ini);
}

TEST(EkrenderConfigFile, ClosestNameForAMisspelling) {
  const std::vector<std::string> names = {"output", "light", "skip-existing", "fov", "eye"};
  EXPECT_EQ(closestName("ouput", names), "output");
  EXPECT_EQ(closestName("lights", names), "light");
  EXPECT_EQ(closestName("Skip_Existing", names), "skip-existing");
  EXPECT_EQ(closestName("colour", names), "");
  EXPECT_EQ(closestName("ey", names), "eye");
}

class EkrenderConfigOptions : public testing::Test {
protected:
  void SetUp() override { std::filesystem::create_directories(folder_); }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  // Writes `text` to a file named `name` in the test's folder and parses `--config FILE` with the
  // arguments after it; the file's path is in path_.
  bool parse(const std::string &name, const std::string &text,
             std::vector<const char *> arguments = {}) {
    path_ = (folder_ / name).string();
    std::ofstream(path_, std::ios::binary) << text;
    arguments.insert(arguments.begin(), {"ekrender", "--config", path_.c_str()});
    options_ = Options();
    error_.clear();
    return parseOptions(int(arguments.size()), arguments.data(), options_, error_);
  }
  // A folder of each test's own: ctest runs the tests of this file side by side, and one test
  // writing its job file while another reads the same name would read the wrong job.
  const std::filesystem::path folder_ =
      std::filesystem::path(testing::TempDir()) /
      ("ekrender_config_" +
       std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
       std::to_string(getpid()));
  std::string path_, error_;
  Options options_;
};

TEST_F(EkrenderConfigOptions, ValuesAreReadWhole) {
  ASSERT_TRUE(parse("v2.toml", "output = \"frames/v2.png\"   # was v1\n")) << error_;
  EXPECT_EQ(options_.output, "frames/v2.png");
  ASSERT_TRUE(parse("v2.ini", "output = frames/my v2.png\n")) << error_;
  EXPECT_EQ(options_.output, "frames/my v2.png");
  ASSERT_TRUE(parse("v2.ini", "eye = 0,12,26\nlight = spot:pos=0,9,0:color=2,2,2\n")) << error_;
  EXPECT_EQ(options_.eye.z, 26.0f);
  ASSERT_EQ(options_.lights.size(), 1u);
  EXPECT_EQ(options_.lights[0].color[1], 2.0f);
}

TEST_F(EkrenderConfigOptions, AJobInEitherSyntax) {
  const std::string toml = "input = \"cache.####.ply\"  # the cache\n"
                           "start = 1\nend = 24\n"
                           "[ekrender]\n"
                           "size = \"64x32\"\n"
                           "skip-existing = true\n"
                           "transparent = false\n"
                           "volumetric = true\n"
                           "light = [\"point:pos=1,2,3\", \"directional\"]\n";
  const std::string ini = "; the same job\n"
                          "input = cache.####.ply ; the cache\n"
                          "start = 1\nend = 24\n"
                          "[ekrender]\n"
                          "size = 64x32\n"
                          "skip-existing = Yes\n"
                          "transparent = off\n"
                          "volumetric\n"
                          "light = point:pos=1,2,3\n"
                          "light = directional\n";
  for (const auto &[name, text] : {std::pair{"job.toml", toml}, std::pair{"job.ini", ini}}) {
    ASSERT_TRUE(parse(name, text)) << name << ": " << error_;
    EXPECT_EQ(options_.input, "cache.####.ply") << name;
    EXPECT_EQ(options_.range.end, 24) << name;
    EXPECT_EQ(options_.width, 64) << name;
    EXPECT_TRUE(options_.skipExisting) << name;
    EXPECT_FALSE(options_.transparent) << name;
    EXPECT_TRUE(options_.volumetric) << name;
    ASSERT_EQ(options_.lights.size(), 2u) << name;
    EXPECT_EQ(options_.lights[0].position.z, 3.0f) << name;
    EXPECT_EQ(options_.lights[1].type, 2) << name;
  }

  // The command line wins, a list of lights included.
  ASSERT_TRUE(parse("job.toml", toml, {"--end", "12", "--light", "spot", "--size", "8x8"}))
      << error_;
  EXPECT_EQ(options_.range.end, 12);
  EXPECT_EQ(options_.width, 8);
  ASSERT_EQ(options_.lights.size(), 1u);
  EXPECT_EQ(options_.lights[0].type, 1);
}

TEST_F(EkrenderConfigOptions, WhatCannotBeUsedStopsTheRunAtItsLine) {
  EXPECT_FALSE(parse("job.ini", "size = 64x36\nouput = v2.png\n"));
  EXPECT_EQ(error_, path_ + ":2: unknown option \"ouput\" (did you mean \"output\"?)");
  EXPECT_FALSE(parse("job.ini", "colour = 1,0,0\n"));
  EXPECT_EQ(error_, path_ + ":1: unknown option \"colour\" (see --help)");
  EXPECT_FALSE(parse("job.ini", "[render]\nsize = 64x36\n"));
  EXPECT_EQ(error_, path_ + ":1: unknown section [render]: settings go at the top of the file or "
                            "under [ekrender]");
  EXPECT_FALSE(parse("job.ini", std::string("\x7F"
                                            "ELF\x02\x01\x01\0\0\0",
                                            10)));
  EXPECT_EQ(error_, path_ + ":1: not a text file (byte 0x7F is not text)");
  EXPECT_FALSE(parse("job.ini", "\nsize = 64\n"));
  EXPECT_EQ(error_, path_ + ":2: --size expects WxH, got \"64\"");
  EXPECT_FALSE(parse("job.ini", "size = 64x36\n[ekrender]\nsize = 8x8\n"));
  EXPECT_EQ(error_, path_ + ":3: \"size\" is set a second time (first on line 1)");
  EXPECT_FALSE(parse("job.toml", "eye = [0, 12, 26]\n"));
  EXPECT_EQ(error_, path_ + ":1: \"eye\" takes one value, not a list");
  EXPECT_FALSE(parse("job.toml", "skip-existing = \"sometimes\"\n"));
  EXPECT_EQ(error_, path_ + ":1: \"skip-existing\" is true or false, not \"sometimes\"");
  EXPECT_FALSE(parse("job.ini", "size\n"));
  EXPECT_EQ(error_, path_ + ":1: \"size\" needs a value (size = WxH)");
  EXPECT_FALSE(parse("job.ini", "light = [point, laser]\n"));
  EXPECT_EQ(error_, path_ + ":1: --light \"laser\": unknown light type \"laser\" (point, spot or "
                            "directional)");
  // A bad value is refused even where the command line overrides it.
  EXPECT_FALSE(parse("job.ini", "size = 64\n", {"--size", "8x8"}));
  EXPECT_EQ(error_, path_ + ":1: --size expects WxH, got \"64\"");
}

} // namespace
