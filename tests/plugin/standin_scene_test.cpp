// The stand-in's scenes: the particle simulation and the scene files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <unistd.h>

#include "host/host_ids.h"
#include "plugin_fixture.h"
#include "scene/document.h"
#include "scene/scene_json.h"

namespace flarion_test {
namespace {

using standin::Document;
using standin::Emitter;
using standin::Particle;
using standin::ParticleSystem;

constexpr int32_t kFps = 30;

ParticleSystem fountain(uint32_t seed) {
  ParticleSystem system;
  system.seed = seed;
  Emitter e;
  e.rate = 300.0; // 10 per frame at 30 fps
  e.lifeFrames = 5;
  e.velocity = {0.0, 100.0, 0.0};
  e.spreadDegrees = 20.0;
  e.speedVariation = 0.2;
  e.gravity = {0.0, -30.0, 0.0};
  e.halfSize = {2.0, 0.0, 2.0};
  e.startColor = {1.0f, 1.0f, 0.0f};
  e.endColor = {1.0f, 0.0f, 0.0f};
  system.emitters.push_back(e);
  return system;
}

bool samePositions(const ParticleSystem &a, const ParticleSystem &b) {
  if (a.particles().size() != b.particles().size()) {
    return false;
  }
  for (size_t i = 0; i < a.particles().size(); ++i) {
    const Particle &p = a.particles()[i];
    const Particle &q = b.particles()[i];
    if (p.position.x != q.position.x || p.position.y != q.position.y ||
        p.position.z != q.position.z || p.alive != q.alive) {
      return false;
    }
  }
  return true;
}

TEST(StandInParticles, SameSeedGivesTheSameParticlesAnotherSeedOthers) {
  ParticleSystem a = fountain(7), b = fountain(7), c = fountain(8);
  a.simulateTo(12, kFps, 0);
  // Reaching frame 12 in steps or at once gives the same state.
  for (int32_t frame = 0; frame <= 12; frame += 4) {
    b.simulateTo(frame, kFps, 0);
  }
  c.simulateTo(12, kFps, 0);
  EXPECT_TRUE(samePositions(a, b));
  EXPECT_FALSE(samePositions(a, c));
}

TEST(StandInParticles, BirthsFollowTheRateAndDeadParticlesKeepTheirSlots) {
  ParticleSystem system = fountain(1);
  system.simulateTo(0, kFps, 0);
  ASSERT_EQ(system.particles().size(), 10u);
  const Particle first = system.particles()[0];
  system.simulateTo(9, kFps, 0);
  ASSERT_EQ(system.particles().size(), 100u);
  size_t alive = 0;
  for (const Particle &p : system.particles()) {
    alive += p.alive ? 1 : 0;
    // A particle lives for exactly five frames after its birth frame.
    EXPECT_EQ(p.alive, 9 - p.birthFrame < 5) << "born " << p.birthFrame;
  }
  EXPECT_EQ(alive, 50u);
  EXPECT_EQ(system.particles()[0].birthFrame, first.birthFrame);
  EXPECT_FALSE(system.particles()[0].alive);
}

TEST(StandInParticles, MotionFollowsVelocityGravityAndColourOverAge) {
  ParticleSystem system;
  Emitter e;
  e.rate = kFps; // one particle per frame
  e.lifeFrames = 100;
  e.velocity = {0.0, 60.0, 0.0};
  e.gravity = {0.0, -30.0, 0.0};
  e.startColor = {0.0f, 0.0f, 1.0f};
  e.endColor = {1.0f, 0.0f, 0.0f};
  system.emitters.push_back(e);
  system.simulateTo(2, kFps, 0);
  const Particle &p = system.particles()[0]; // born at frame 0, two steps old
  const double dt = 1.0 / kFps;
  const double v1 = 60.0 - 30.0 * dt, v2 = v1 - 30.0 * dt;
  EXPECT_DOUBLE_EQ(p.velocity.y, v2);
  EXPECT_NEAR(p.position.y, (v1 + v2) * dt, 1e-12);
  EXPECT_FLOAT_EQ(p.color.red, 0.02f); // two of a hundred frames of life
  EXPECT_FLOAT_EQ(p.color.blue, 0.98f);
  // Spread 0 and no box: straight up from the emitter.
  EXPECT_EQ(p.position.x, 0.0);
  EXPECT_EQ(p.position.z, 0.0);
}

TEST(StandInParticles, GoingBackRestartsFromTheStartFrame) {
  ParticleSystem a = fountain(3), b = fountain(3);
  a.simulateTo(20, kFps, 0);
  EXPECT_TRUE(a.simulateTo(6, kFps, 0));
  b.simulateTo(6, kFps, 0);
  EXPECT_TRUE(samePositions(a, b));
  EXPECT_FALSE(a.simulateTo(6, kFps, 0)); // nothing to do
}

// A step costs the living particles, not the dead slots, and frames without life or births pass
// at once: 100,000 frames with a million slots, and the whole 32-bit frame range, take moments.
TEST(StandInParticles, LongTimelinesCostTheLivingParticles) {
  const auto start = std::chrono::steady_clock::now();
  ParticleSystem system = fountain(5);
  system.simulateTo(99999, kFps, 0);
  ASSERT_EQ(system.particles().size(), 1000000u);
  EXPECT_EQ(std::count_if(system.particles().begin(), system.particles().end(),
                          [](const Particle &p) { return p.alive; }),
            50);
  EXPECT_TRUE(system.particles()[999999].alive);

  ParticleSystem late = fountain(5);
  late.emitters[0].firstFrame = INT32_MAX - 5;
  late.simulateTo(INT32_MAX, kFps, INT32_MIN);
  EXPECT_EQ(late.particles().size(), 60u);
  EXPECT_EQ(late.simulatedFrame(), INT32_MAX);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// Passing over the quiet frames of a sparse emitter gives what stepping frame by frame gives.
TEST(StandInParticles, QuietFramesPassWithoutChangingTheResult) {
  ParticleSystem jumped = fountain(9), stepped = fountain(9);
  for (ParticleSystem *system : {&jumped, &stepped}) {
    system->emitters[0].rate = 0.7; // one birth every 43 frames or so
    system->emitters[0].lifeFrames = 3;
    system->emitters[0].firstFrame = 40;
  }
  jumped.simulateTo(1000, kFps, 0);
  for (int32_t frame = 0; frame <= 1000; ++frame) {
    stepped.simulateTo(frame, kFps, 0);
  }
  EXPECT_TRUE(samePositions(jumped, stepped));
  EXPECT_EQ(jumped.particles().size(), 22u);
}

TEST(StandInDocument, CloneCarriesTheSimulationAndGoesOnAlike) {
  Document document;
  document.particles = fountain(11);
  document.time = standin::Time::ofFrame(8, document.fps);
  document.executePasses();
  const uint32_t changes = document.changeCount();
  EXPECT_GT(changes, 0u);
  auto copy = document.clone();
  EXPECT_TRUE(samePositions(copy->particles, document.particles));
  copy->time = standin::Time::ofFrame(15, copy->fps);
  copy->executePasses();
  document.time = copy->time;
  document.executePasses();
  EXPECT_TRUE(samePositions(copy->particles, document.particles));
  EXPECT_GT(document.changeCount(), changes);
}

// Played frame by frame, every frame of the timeline moves the particles on, at every common
// rate: no time is taken for the frame before it.
TEST(StandInDocument, EachFramePlayedShowsItsOwnParticles) {
  for (const int32_t fps : {24, 25, 30, 60}) {
    Document document;
    document.fps = fps;
    document.particles = fountain(5);
    document.particles.emitters[0].lifeFrames = 1000;
    std::vector<Particle> before;
    for (int32_t frame = 0; frame <= 300; ++frame) {
      document.time = standin::Time::ofFrame(frame, fps);
      document.playToCurrentTime();
      ASSERT_EQ(document.time.frame(fps), frame) << "at " << fps << " fps";
      const std::vector<Particle> &now = document.particles.particles();
      ASSERT_FALSE(now.size() == before.size() &&
                   std::equal(now.begin(), now.end(), before.begin(),
                              [](const Particle &a, const Particle &b) {
                                return a.position.y == b.position.y;
                              }))
          << "frame " << frame << " at " << fps << " fps shows the particles of the frame before";
      before = now;
    }
  }
}

TEST(StandInSceneFile, FountainExampleHasParticlesACameraAndTwoLights) {
  auto document = standin::loadSceneFile(examplesDir() + "/fountain.json");
  ASSERT_NE(document->activeCamera(), nullptr);
  EXPECT_EQ(document->activeCamera()->name, "Camera");
  int lights = 0;
  standin::forEachObject(document->objects, [&](const standin::SceneObject &o) {
    lights += o.type == ek::host::object::kTypeLight ? 1 : 0;
  });
  EXPECT_EQ(lights, 2);
  EXPECT_EQ(document->particles.emitters.size(), 2u);
  EXPECT_EQ(document->time.frame(document->fps), 60);
  document->playToCurrentTime();
  EXPECT_GT(document->particles.particles().size(), 1000u);
}

// A frame reached by one run of the animation passes holds only that frame's births; playing
// every frame from the start gives the whole history. Going back starts over.
TEST(StandInSceneFile, AnimationPassesDependOnHowAFrameWasReached) {
  auto jumped = standin::loadSceneFile(examplesDir() + "/fountain.json");
  auto played = jumped->clone();
  jumped->time = standin::Time::ofFrame(0, jumped->fps);
  jumped->executePasses(); // back to the start: one step at frame 0
  const size_t atStart = jumped->particles.particles().size();
  jumped->time = standin::Time::ofFrame(40, jumped->fps);
  jumped->executePasses(); // a jump ahead: one more step
  const size_t afterJump = jumped->particles.particles().size();
  EXPECT_GT(afterJump, atStart);
  EXPECT_LT(afterJump, 3 * atStart);
  played->time = standin::Time::ofFrame(0, played->fps);
  played->executePasses();
  for (int32_t frame = 1; frame <= 40; ++frame) {
    played->time = standin::Time::ofFrame(frame, played->fps);
    played->executePasses(); // frame by frame, as an export's pre-roll does
  }
  auto reference = standin::loadSceneFile(examplesDir() + "/fountain.json");
  reference->time = standin::Time::ofFrame(40, reference->fps);
  reference->playToCurrentTime();
  ASSERT_EQ(played->particles.particles().size(), reference->particles.particles().size());
  EXPECT_GT(played->particles.particles().size(), 10 * afterJump);
  EXPECT_EQ(played->particles.particles().back().position.y,
            reference->particles.particles().back().position.y);
}

TEST(StandInSceneFile, StereoExampleDescribesASphericalToeInCamera) {
  namespace cam = ek::host::camera;
  auto document = standin::loadSceneFile(examplesDir() + "/stereo_dome.json");
  const standin::SceneObject *camera = document->activeCamera();
  ASSERT_NE(camera, nullptr);
  const auto &p = camera->parameters;
  EXPECT_EQ(std::get<int64_t>(p.at(cam::kSphericalEnabled)), 1);
  EXPECT_EQ(std::get<int64_t>(p.at(cam::kStereoMode)), cam::kStereoToeIn);
  EXPECT_DOUBLE_EQ(std::get<double>(p.at(cam::kZeroParallaxDistance)), 300.0);
  EXPECT_NEAR(std::get<double>(p.at(cam::kTopMergeAngle)), 3.14159265358979 / 3.0, 1e-9);
  EXPECT_EQ(document->render.frameSequence, ek::host::render_data::kSequenceAllFrames);
}

TEST(StandInSceneFile, MistakesAreNamedWithTheirPlace) {
  auto messageOf = [](const char *json) {
    try {
      standin::parseScene(json, "scene.json");
    } catch (const standin::SceneError &e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(messageOf(R"({"objects": [{"type": "camera", "focal": 50}]})"),
            "scene.json.objects[0]: unknown key \"focal\"");
  EXPECT_EQ(messageOf(R"({"activeCamera": "Main"})"),
            "scene.json: activeCamera \"Main\" names no object of the scene");
  EXPECT_EQ(messageOf(R"({"objects": [{"type": "light", "lightType": "laser"}]})")
                .rfind("scene.json.objects[0]: lightType \"laser\" is none of:", 0),
            0u);
  EXPECT_TRUE(messageOf("{").starts_with("scene.json: not valid JSON"));
  EXPECT_TRUE(messageOf(R"({"fps": 1e400})").starts_with("scene.json: not valid JSON"))
      << "a number beyond a double";
  // Rates that would exhaust the memory, or are no rate at all.
  EXPECT_EQ(messageOf(R"({"particles": {"emitters": [{"rate": 1e12}]}})"),
            "scene.json.particles: the emitters would give 3.03e+12 particles from frame 0 to 90, "
            "more than the stand-in's limit of 20000000");
  EXPECT_EQ(messageOf(R"({"particles": {"emitters": [{"rate": -1}]}})"),
            "scene.json.particles.emitters[0]: rate must be a number of births per second, at "
            "least 0");
  EXPECT_EQ(messageOf(R"({"maxFrame": 100000, "particles": {"emitters": [{"rate": 300}]}})"),
            "no error");
  // Whole numbers beyond 32 bits are refused, not cut.
  EXPECT_EQ(messageOf(R"({"fps": 4294967326})"),
            "scene.json: fps must be a whole number from -2147483648 to 2147483647");
  EXPECT_EQ(messageOf(R"({"render": {"width": -4294966016}})"),
            "scene.json.render: width must be a whole number from -2147483648 to 2147483647");
  EXPECT_EQ(messageOf(R"({"maxFrame": 18446744073709551615})"),
            "scene.json: maxFrame must be a whole number from -2147483648 to 2147483647");
  EXPECT_EQ(messageOf(R"({"particles": {"seed": 4294967296}})"),
            "scene.json.particles: seed must be a whole number from 0 to 4294967295");
  EXPECT_EQ(messageOf(R"({"particles": {"seed": 4294967295}})"), "no error");
}

TEST(StandInSceneFile, MissingFilesAndFoldersSayWhy) {
  auto messageOf = [](const std::filesystem::path &path) {
    try {
      standin::loadSceneFile(path);
    } catch (const standin::SceneError &e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  const std::filesystem::path folder =
      std::filesystem::path(testing::TempDir()) / ("scene_" + std::to_string(getpid()) + ".json");
  std::filesystem::create_directories(folder);
  EXPECT_EQ(messageOf(folder), folder.string() + ": is a folder, not a scene file");
  std::filesystem::remove(folder);
  EXPECT_EQ(messageOf(folder), folder.string() + ": cannot be opened (No such file or directory)");
}

// Objects nest at most 100 levels deep; deeper scenes, however deep, are refused with that limit
// before the reader's recursion could exhaust the stack.
TEST(StandInSceneFile, NestingDeeperThanTheLimitIsRefused) {
  auto nested = [](int levels) {
    std::string json = R"({"objects": [)";
    for (int level = 1; level < levels; ++level) {
      json += R"({"type": "null", "children": [)";
    }
    json += R"({"type": "null"})";
    for (int level = 1; level < levels; ++level) {
      json += "]}";
    }
    return json + "]}";
  };
  const auto deepest = standin::parseScene(nested(100), "scene.json");
  EXPECT_EQ(deepest->objects.size(), 1u);
  std::string where = "scene.json.objects[0]";
  for (int level = 1; level <= 100; ++level) {
    where += ".children[0]";
  }
  for (int levels : {101, 200000}) {
    try {
      standin::parseScene(nested(levels), "scene.json");
      ADD_FAILURE() << levels << " levels were read";
    } catch (const standin::SceneError &e) {
      EXPECT_EQ(std::string(e.what()),
                where + ": objects nest deeper than 100 levels, more than a scene may have");
    }
  }
}

} // namespace
} // namespace flarion_test
