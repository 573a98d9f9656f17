// Reading the host's particles into the renderer: packing, conversion, the growth-only
// reservation, timings and every failure, on the real renderer library's CPU backend.
#include <cmath>
#include <limits>

#include "connected_host.h"
#include "ekpreview/particle_upload.h"
#include "host/document.h"
#include "host/particle_system.h"
#include "plugin_fixture.h"

namespace flarion_test {
namespace {

namespace host = ek::host;
namespace plugin = ek::plugin;
using standin::Particle;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

Particle particle(standin::Vec3 position, standin::Vec3 velocity = {}, standin::Color color = {},
                  bool alive = true) {
  Particle p;
  p.position = position;
  p.velocity = velocity;
  p.color = color;
  p.alive = alive;
  return p;
}

class ParticleReading : public ConnectedHost {
protected:
  void SetUp() override {
    ConnectedHost::SetUp();
    ASSERT_TRUE(host::ParticleSystem::loadLibrary());
    char message[plugin::kBindingMessageSize] = {};
    ASSERT_TRUE(plugin::bindLibrary(binding_, rendererLibraryPath().c_str(), message,
                                    plugin::Language::English))
        << message;
    context_ = binding_.create(EK_DEVICE_CPU);
    ASSERT_NE(context_, nullptr);
  }
  void TearDown() override {
    binding_.destroy(context_);
    ek::platform::freeLibrary(binding_.library);
    ConnectedHost::TearDown();
  }
  // A document holding exactly these particles (no emitter), made the active one.
  standin::Document &scene(std::vector<Particle> particles) {
    auto document = std::make_unique<standin::Document>();
    document->particles.fixed = std::move(particles);
    return host_.addDocument(std::move(document));
  }
  std::optional<std::string> read(bool withVelocities, double velocityScale = 1.0 / 30.0) {
    return plugin::readParticles(upload_, {binding_, context_},
                                 host::ParticleSystem::of(*host::Document::active()),
                                 withVelocities, velocityScale, plugin::Language::English);
  }
  uint64_t rendererCount() {
    auto getCount = reinterpret_cast<decltype(&ekGetCount)>(
        ek::platform::findSymbol(binding_.library, "ekGetCount"));
    return getCount(context_);
  }

  plugin::RendererBinding binding_;
  EKContext *context_ = nullptr;
  plugin::ParticleUpload upload_;
};

TEST_F(ParticleReading, LivingParticlesArePackedInHostOrderWithZNegated) {
  std::vector<Particle> list;
  for (int i = 0; i < 10; ++i) {
    list.push_back(particle({double(i), 2.0 * i, 3.0 * i}, {}, {}, i != 2 && i != 5 && i != 9));
  }
  scene(list);
  ASSERT_FALSE(read(false));
  EXPECT_EQ(upload_.particleCount, 7);
  EXPECT_EQ(rendererCount(), 7u);
  const float expected[7] = {0, 1, 3, 4, 6, 7, 8};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(upload_.stagedPositions[size_t(i)].x, expected[i]);
    EXPECT_EQ(upload_.stagedPositions[size_t(i)].z, -3.0f * expected[i]);
  }
  EXPECT_EQ(upload_.stagedPositions.size(), 10u); // sized for every slot the host reported
  EXPECT_EQ(upload_.meanSpeedRaw, 0.0);
  EXPECT_EQ(upload_.uploadGeneration, 1);
}

TEST_F(ParticleReading, VelocitiesBecomeDisplacementPerFrame) {
  scene({particle({1.0, 2.0, 3.0}, {0.0, 0.0, 30.0}), particle({0, 0, 0}, {0.0, 40.0, 0.0})});
  ASSERT_FALSE(read(true, 1.0 / 30.0));
  const EKV3 p = upload_.stagedPositions[0], v = upload_.stagedVelocities[0];
  EXPECT_EQ(p.x, 1.0f);
  EXPECT_EQ(p.y, 2.0f);
  EXPECT_EQ(p.z, -3.0f);
  EXPECT_EQ(v.x, 0.0f);
  EXPECT_EQ(v.z, -1.0f);
  EXPECT_FLOAT_EQ(upload_.stagedVelocities[1].y, 40.0f / 30.0f);
  EXPECT_DOUBLE_EQ(upload_.meanSpeedRaw, 35.0); // (30 + 40) / 2, in host units per second
  // A frame rate of 0 gives scale 0: no motion, but the raw speed is still the host's.
  ASSERT_FALSE(read(true, 0.0));
  EXPECT_EQ(upload_.stagedVelocities[0].z, 0.0f);
  EXPECT_DOUBLE_EQ(upload_.meanSpeedRaw, 35.0);
}

TEST_F(ParticleReading, ColoursAreClampedAndTruncatedWithOpaqueAlpha) {
  scene({particle({}, {}, {-0.5f, 0.5f, 1.5f}), particle({}, {}, {1.0f, 0.999f, 0.0f})});
  ASSERT_FALSE(read(false));
  const std::vector<uint8_t> expected = {0, 127, 255, 255, 255, 254, 0, 255};
  EXPECT_EQ(upload_.stagedColors, expected);
}

TEST_F(ParticleReading, ReservationGrowsByAQuarterPlus1024AndOnlyWhenNeeded) {
  // No particles but motion blur on: the first read still reserves, with velocities.
  standin::Document &document = scene({});
  ASSERT_FALSE(read(true));
  EXPECT_EQ(upload_.reservedCapacity, 1024);
  EXPECT_TRUE(upload_.reservedWithVelocities);
  EXPECT_EQ(rendererCount(), 0u);

  auto fill = [&](int n) {
    standin::ParticleSystem fresh;
    fresh.fixed.assign(size_t(n), particle({1.0, 1.0, 1.0}));
    fresh.simulateTo(0, 30, 0);
    document.particles = fresh;
  };
  fill(3000);
  ASSERT_FALSE(read(false));
  EXPECT_EQ(upload_.reservedCapacity, 3000 + 750 + 1024);
  fill(4000); // still fits
  ASSERT_FALSE(read(false));
  EXPECT_EQ(upload_.reservedCapacity, 4774);
  fill(5000);
  ASSERT_FALSE(read(false));
  EXPECT_EQ(upload_.reservedCapacity, 5000 + 1250 + 1024);
  EXPECT_FALSE(upload_.reservedWithVelocities);
  // Motion blur switched on: a new reservation although the count did not grow...
  ASSERT_FALSE(read(true));
  EXPECT_EQ(upload_.reservedCapacity, 7274);
  EXPECT_TRUE(upload_.reservedWithVelocities);
  // ...and switched off again: none.
  fill(4500);
  ASSERT_FALSE(read(false));
  EXPECT_EQ(upload_.reservedCapacity, 7274);
  EXPECT_TRUE(upload_.reservedWithVelocities);
  EXPECT_EQ(upload_.stagedPositions.size(), 4500u);
  EXPECT_GE(upload_.stagedPositions.capacity(), 5000u); // never shrunk
  EXPECT_EQ(rendererCount(), 4500u);
}

TEST_F(ParticleReading, NoParticleSystemReadsAsNoParticles) {
  auto document = std::make_unique<standin::Document>();
  document->hasParticleHook = false;
  host_.addDocument(std::move(document));
  ASSERT_FALSE(read(true));
  EXPECT_EQ(upload_.particleCount, 0);
  EXPECT_EQ(rendererCount(), 0u);
  EXPECT_EQ(upload_.uploadGeneration, 1);
}

TEST_F(ParticleReading, ParticlesThatCannotBeDrawnAreLeftOutAndBadValuesNeutralised) {
  // Finite doubles beyond the float range are infinities to the renderer: left out as well.
  scene({particle({kNaN, 0.0, 0.0}), particle({0.0, kInfinity, 0.0}), particle({1e300, 0.0, 0.0}),
         particle({1.0, 1.0, 1.0}, {kNaN, 0.0, 0.0}, {float(kNaN), 0.5f, float(kInfinity)}),
         particle({0.0, 0.0, -1e39}), particle({2.0, 2.0, 2.0}, {0.0, 3.0, 4.0}),
         particle({3.0, 3.0, 3.0}, {0.0, -1e300, 0.0})});
  ASSERT_FALSE(read(true, 1.0));
  ASSERT_EQ(upload_.particleCount, 3);
  EXPECT_EQ(rendererCount(), 3u);
  EXPECT_EQ(upload_.stagedPositions[0].x, 1.0f);
  EXPECT_EQ(upload_.stagedPositions[1].x, 2.0f);
  EXPECT_EQ(upload_.stagedPositions[2].x, 3.0f);
  EXPECT_EQ(upload_.stagedVelocities[0].x, 0.0f); // a not-a-number velocity stands still
  EXPECT_EQ(upload_.stagedVelocities[2].y, 0.0f); // and so does one beyond the float range
  EXPECT_EQ(upload_.stagedColors[0], 0);
  EXPECT_EQ(upload_.stagedColors[2], 255);
  EXPECT_DOUBLE_EQ(upload_.meanSpeedRaw, 5.0 / 3.0); // (0 + 5 + 0) / 3
}

TEST_F(ParticleReading, FailedHostQueriesStopTheReadAndKeepTheLastUpload) {
  standin::Document &document =
      scene({particle({1, 1, 1}), particle({2, 2, 2}), particle({3, 3, 3})});
  ASSERT_FALSE(read(false));
  const plugin::ParticleUpload before = upload_;
  document.particleQueriesFailFrom = 1;
  EXPECT_EQ(read(false), "the host could not give particle 2 of 3");
  document.particleQueriesFailFrom = -1;
  document.extraReportedParticles = 2; // a count larger than what the host can give
  EXPECT_EQ(read(false), "the host could not give particle 4 of 5");
  EXPECT_EQ(upload_.particleCount, before.particleCount);
  EXPECT_EQ(upload_.uploadGeneration, before.uploadGeneration);
  EXPECT_EQ(upload_.readMs, before.readMs);
  EXPECT_EQ(rendererCount(), 3u);
}

TEST_F(ParticleReading, RendererFailuresReportItsText) {
  scene({particle({1, 1, 1})});
  upload_.reservedCapacity = 1; // pretend a reservation that the context never made...
  upload_.reservedWithVelocities = true;
  const auto failure = read(false); // ...so the upload of one particle meets no buffers
  ASSERT_TRUE(failure.has_value());
  EXPECT_FALSE(failure->empty());
  EXPECT_EQ(*failure, binding_.lastError(context_));
  EXPECT_EQ(upload_.uploadGeneration, 0);
}

} // namespace
} // namespace flarion_test
