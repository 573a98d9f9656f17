#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>

#include "frame_pattern.h"
#include "frame_range.h"
#include "options.h"

namespace {

// Sets (or, with null, removes) a variable of the process's environment.
void setEnvironment(const char *name, const char *value) {
#if defined(_WIN32)
  _putenv_s(name, value ? value : "");
#else
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

using namespace ekrender;

TEST(EkrenderFramePattern, HashesAndDollarFSpellings) {
  FramePattern p;
  ASSERT_TRUE(findFramePattern("caches/run#1/smoke.####.vdb", p))
      << "a # in a folder is no pattern";
  EXPECT_EQ(p.name(7), "caches/run#1/smoke.0007.vdb");
  EXPECT_EQ(p.name(12345), "caches/run#1/smoke.12345.vdb");
  EXPECT_EQ(p.name(-3), "caches/run#1/smoke.-0003.vdb");
  ASSERT_TRUE(findFramePattern("smoke.$F4.ply", p));
  EXPECT_EQ(p.name(42), "smoke.0042.ply");
  ASSERT_TRUE(findFramePattern("smoke.$F.ply", p));
  EXPECT_EQ(p.name(42), "smoke.42.ply");
  EXPECT_FALSE(findFramePattern("caches/run#1/smoke.vdb", p));
  EXPECT_FALSE(findFramePattern("", p));
  EXPECT_EQ(outputPattern("out/frame.#.png").name(9), "out/frame.9.png");
  EXPECT_EQ(outputPattern("out.d/frame.exr").name(9), "out.d/frame_0009.exr");
  EXPECT_EQ(outputPattern("out.d/frame").name(9), "out.d/frame_0009");
}

TEST(EkrenderFrameRange, ChunksCoverEveryFrameOnce) {
  EXPECT_EQ(rangeFrames({1, 10, 4}), (std::vector<int>{1, 5, 9}));
  EXPECT_EQ(rangeFrames({-2, 1, 1}), (std::vector<int>{-2, -1, 0, 1}));
  for (size_t size : {0u, 1u, 5u, 24u, 25u})
    for (int count : {1, 2, 4, 7, 30}) {
      size_t next = 0;
      for (int index = 0; index < count; ++index) {
        const Span span = chunkOf(size, index, count);
        EXPECT_EQ(span.first, next) << size << " in " << count;
        EXPECT_LE(span.last - span.first, size / size_t(count) + 1);
        next = span.last;
      }
      EXPECT_EQ(next, size);
    }
}

TEST(EkrenderFrameRange, ChunkIndexFromTheFarm) {
  setEnvironment("SLURM_ARRAY_TASK_ID", nullptr);
  setEnvironment("SLURM_ARRAY_TASK_MIN", nullptr);
  setEnvironment("JOB_COMPLETION_INDEX", nullptr);
  int index = -1;
  std::string error;
  EXPECT_FALSE(chunkFromEnvironment(index, error));
  EXPECT_NE(error.find("SLURM_ARRAY_TASK_ID"), std::string::npos);
  setEnvironment("JOB_COMPLETION_INDEX", "3");
  ASSERT_TRUE(chunkFromEnvironment(index, error));
  EXPECT_EQ(index, 3);
  setEnvironment("SLURM_ARRAY_TASK_ID", "5");
  setEnvironment("SLURM_ARRAY_TASK_MIN", "1");
  ASSERT_TRUE(chunkFromEnvironment(index, error));
  EXPECT_EQ(index, 4) << "Slurm's ids count from the array's first";
  setEnvironment("SLURM_ARRAY_TASK_ID", "5x");
  setEnvironment("JOB_COMPLETION_INDEX", nullptr);
  EXPECT_FALSE(chunkFromEnvironment(index, error));
  setEnvironment("SLURM_ARRAY_TASK_ID", nullptr);
  setEnvironment("SLURM_ARRAY_TASK_MIN", nullptr);
}

bool parse(std::vector<const char *> args, Options &options, std::string &error) {
  args.insert(args.begin(), "ekrender");
  return parseOptions(int(args.size()), args.data(), options, error);
}

TEST(EkrenderSequenceOptions, ConfigFileAndCommandLine) {
  // The process id in the name: test runs of other checkouts may share the temporary folder.
  const std::string path = testing::TempDir() + "ekrender_job_" + std::to_string(getpid()) + ".ini";
  std::ofstream(path) << "# a farm job\ninput = \"cache.####.ply\" ; the cache\nstart = 1\nend = "
                         "24\nsize = \"64x32\"\n"
                         "skip-existing = true\nlight = \"point\"\n";
  Options o;
  std::string error;
  ASSERT_TRUE(
      parse({"--config", path.c_str(), "--end", "12", "--chunks", "4", "--chunk", "env"}, o, error))
      << error;
  EXPECT_EQ(o.input, "cache.####.ply");
  EXPECT_EQ(o.range.start, 1);
  EXPECT_EQ(o.range.end, 12) << "the command line wins over the file";
  EXPECT_EQ(o.width, 64);
  EXPECT_TRUE(o.skipExisting);
  EXPECT_EQ(o.lights.size(), 1u);
  EXPECT_TRUE(o.chunkFromEnvironment);
  EXPECT_EQ(optionsProblem(o), "");

  std::ofstream(path) << "size = \"64\"\n";
  Options bad;
  EXPECT_FALSE(parse({"--config", path.c_str()}, bad, error));
  EXPECT_EQ(error, path + ":1: --size expects WxH, got \"64\"") << "the file and line are named";
  EXPECT_FALSE(parse({"--config", "/nonexistent/job.ini"}, bad, error));
  EXPECT_NE(error.find("/nonexistent/job.ini"), std::string::npos) << error;
  std::remove(path.c_str());
}

TEST(EkrenderSequenceOptions, ContradictionsAreRefused) {
  auto problem = [](std::vector<const char *> args) {
    Options o;
    std::string error;
    if (!parse(args, o, error))
      return error;
    return optionsProblem(o);
  };
  EXPECT_EQ(problem({"--input", "c.####.ply"}),
            "the frame pattern of --input \"c.####.ply\" needs --start and --end");
  EXPECT_NE(problem({"--input", "c.ply", "--start", "1", "--end", "2"})
                .find("need an --input whose name has a frame pattern"),
            std::string::npos);
  EXPECT_EQ(problem({"--input", "c.##.ply", "--start", "5", "--end", "2"}),
            "the range ends (--end 2) before it starts (--start 5)");
  EXPECT_EQ(problem({"--input", "c.##.ply", "--start", "1", "--end", "2", "--step", "0"}),
            "--step expects N, got \"0\"");
  EXPECT_EQ(problem({"--chunks", "4", "--chunk", "4"}),
            "chunk 4 is out of range: --chunks 4 numbers them 0 to 3");
  EXPECT_NE(problem({"--input", "c.##.ply", "--start", "1", "--end", "2", "--frames", "8"})
                .find("--frames"),
            std::string::npos);
}

} // namespace
