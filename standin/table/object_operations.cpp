// Objects, cameras, lights and the particles of a document's particle system.
#include "table/table_common.h"

#include <algorithm>

#include "host/host_ids.h"

namespace standin {

namespace {

void copy(const Vec3 &v, double (&out)[3]) {
  out[0] = v.x;
  out[1] = v.y;
  out[2] = v.z;
}

Vec3 toVec3(const double (&v)[3]) { return {v[0], v[1], v[2]}; }

HostObject *handleOf(const SceneObject *object) {
  return object ? asHandle<HostObject>(object->handle) : nullptr;
}

int32_t objectType(HostInstance *instance, HostObject *handle) {
  ObjectSlot *slot = stateOf(instance, "objectType").object(handle, "objectType");
  return slot ? slot->object->type : 0;
}

HostObject *objectNext(HostInstance *instance, HostObject *handle) {
  ObjectSlot *slot = stateOf(instance, "objectNext").object(handle, "objectNext");
  if (!slot || !slot->siblings || slot->index + 1 >= slot->siblings->size()) {
    return nullptr;
  }
  return handleOf((*slot->siblings)[slot->index + 1].get());
}

HostObject *objectDown(HostInstance *instance, HostObject *handle) {
  ObjectSlot *slot = stateOf(instance, "objectDown").object(handle, "objectDown");
  if (!slot || slot->object->children.empty()) {
    return nullptr;
  }
  return handleOf(slot->object->children.front().get());
}

int32_t objectGetMatrix(HostInstance *instance, HostObject *handle, HostMatrix *matrix) {
  ObjectSlot *slot = stateOf(instance, "objectGetMatrix").object(handle, "objectGetMatrix");
  if (!slot || !matrix) {
    return 0;
  }
  const Matrix &m = slot->object->matrix;
  copy(m.offset, matrix->offset);
  copy(m.axisX, matrix->axisX);
  copy(m.axisY, matrix->axisY);
  copy(m.axisZ, matrix->axisZ);
  return 1;
}

int32_t objectSetMatrix(HostInstance *instance, HostObject *handle, const HostMatrix *matrix) {
  ObjectSlot *slot = stateOf(instance, "objectSetMatrix").object(handle, "objectSetMatrix");
  if (!slot || !matrix) {
    return 0;
  }
  slot->object->matrix = Matrix{toVec3(matrix->offset), toVec3(matrix->axisX),
                                toVec3(matrix->axisY), toVec3(matrix->axisZ)};
  if (slot->owner) {
    slot->owner->markChanged();
  }
  return 1;
}

int32_t objectGetParameter(HostInstance *instance, HostObject *handle, int32_t id,
                           HostValue *value) {
  ObjectSlot *slot = stateOf(instance, "objectGetParameter").object(handle, "objectGetParameter");
  if (!slot || !value) {
    return 0;
  }
  *value = HostValue{};
  auto found = slot->object->parameters.find(id);
  if (found == slot->object->parameters.end()) {
    return 0;
  }
  if (const auto *i = std::get_if<int64_t>(&found->second)) {
    value->kind = HOST_VALUE_INT;
    value->integer = *i;
  } else if (const auto *r = std::get_if<double>(&found->second)) {
    value->kind = HOST_VALUE_REAL;
    value->real = *r;
  } else {
    value->kind = HOST_VALUE_VECTOR;
    copy(std::get<Vec3>(found->second), value->vector);
  }
  return 1;
}

int32_t objectGetMode(HostInstance *instance, HostObject *handle, int32_t selector) {
  namespace obj = ek::host::object;
  constexpr int32_t kModeOn = 0;
  ObjectSlot *slot = stateOf(instance, "objectGetMode").object(handle, "objectGetMode");
  if (!slot || selector != obj::kModeSelectorOnOff) {
    return kModeOn;
  }
  return slot->object->switchedOff ? obj::kModeOff : kModeOn;
}

HostObject *objectClone(HostInstance *instance, HostObject *handle, uint32_t) {
  HostState &s = stateOf(instance, "objectClone");
  ObjectSlot *slot = s.object(handle, "objectClone");
  return slot ? asHandle<HostObject>(s.adoptObject(slot->object->clone())) : nullptr;
}

void objectFree(HostInstance *instance, HostObject *handle) {
  HostState &s = stateOf(instance, "objectFree");
  auto owned = s.pluginObjects.find(reinterpret_cast<uintptr_t>(handle));
  if (owned == s.pluginObjects.end()) {
    s.recordMisuse("objectFree", s.objects.contains(reinterpret_cast<uintptr_t>(handle))
                                     ? "the object belongs to a document"
                                     : "unknown or freed object");
    return;
  }
  s.objects.erase(owned->first);
  forEachObject(owned->second->children,
                [&](const SceneObject &child) { s.objects.erase(child.handle); });
  s.pluginObjects.erase(owned);
}

// The camera behind the handle; other objects are misuse for the lens queries.
const SceneObject *camera(HostInstance *instance, HostObject *handle, const char *operation) {
  HostState &s = stateOf(instance, operation);
  ObjectSlot *slot = s.object(handle, operation);
  if (slot && slot->object->type != ek::host::object::kTypeCamera) {
    s.recordMisuse(operation, "the object is not a camera");
    return nullptr;
  }
  return slot ? slot->object : nullptr;
}

double cameraFocalLength(HostInstance *instance, HostObject *handle) {
  const SceneObject *c = camera(instance, handle, "cameraFocalLength");
  return c ? c->focalLength : 0.0;
}

double cameraApertureWidth(HostInstance *instance, HostObject *handle) {
  const SceneObject *c = camera(instance, handle, "cameraApertureWidth");
  return c ? c->apertureWidth : 0.0;
}

int32_t objectGetName(HostInstance *instance, HostObject *handle, char *buffer, int32_t size) {
  HostState &s = stateOf(instance, "objectGetName");
  ObjectSlot *slot = s.object(handle, "objectGetName");
  return slot ? writeText(slot->object->name, buffer, size) : -1;
}

int32_t objectGetDataReal(HostInstance *instance, HostObject *handle, int32_t id, double *value) {
  HostValue raw{};
  if (!value || objectGetParameter(instance, handle, id, &raw) == 0) {
    return 0;
  }
  if (raw.kind == HOST_VALUE_REAL) {
    *value = raw.real;
  } else if (raw.kind == HOST_VALUE_INT) {
    *value = double(raw.integer);
  } else {
    return 0;
  }
  return 1;
}

int32_t particleLibraryLoad(HostInstance *instance, int32_t libraryId, int32_t) {
  HostState &s = stateOf(instance, "particleLibraryLoad");
  if (libraryId != ek::host::library::kThinkingParticles) {
    return 0;
  }
  ++s.particleLibraryLoads;
  return 1;
}

// The document whose particle system the master is; records misuse for a master that is none or
// for particle access before the library was loaded.
Document *masterDocument(HostState &s, HostObject *master, const char *operation) {
  if (s.particleLibraryLoads == 0) {
    s.recordMisuse(operation, "the particle library was not loaded");
    return nullptr;
  }
  Document *d = s.particleHookHandles.find(master);
  if (!d) {
    s.recordMisuse(operation, "not a particle master system");
  }
  return d;
}

// What the host holds for a particle index of a master system.
struct ParticleSlot {
  bool reported = false;              // the index lies below the count the host reports
  const Particle *particle = nullptr; // null when the host cannot answer for it
};

int32_t reportedCount(const Document &d) {
  return int32_t(d.particles.particles().size()) + std::max(d.extraReportedParticles, 0);
}

// The slot at the index. Indices beyond the reported count are misuse; reported indices that the
// document's fault injection breaks have no particle, which is the host's fault, not misuse.
ParticleSlot particleSlot(HostInstance *instance, HostObject *master, int32_t index,
                          const char *operation) {
  HostState &s = stateOf(instance, operation);
  Document *d = masterDocument(s, master, operation);
  if (!d) {
    return {};
  }
  if (index < 0 || index >= reportedCount(*d)) {
    s.recordMisuse(operation, "particle index " + std::to_string(index) + " out of range");
    return {};
  }
  const auto &particles = d->particles.particles();
  const bool broken = size_t(index) >= particles.size() ||
                      (d->particleQueriesFailFrom >= 0 && index >= d->particleQueriesFailFrom);
  return {true, broken ? nullptr : &particles[size_t(index)]};
}

int32_t particleCount(HostInstance *instance, HostObject *master) {
  HostState &s = stateOf(instance, "particleCount");
  Document *d = masterDocument(s, master, "particleCount");
  return d ? reportedCount(*d) : 0;
}

// A broken slot still answers that it is alive: the plug-in must not trust it for more.
int32_t particleAlive(HostInstance *instance, HostObject *master, int32_t index) {
  const ParticleSlot slot = particleSlot(instance, master, index, "particleAlive");
  return slot.reported && (!slot.particle || slot.particle->alive) ? 1 : 0;
}

// Hands one vector of a particle to the plug-in as three doubles; zeros when the query fails.
int32_t particleVector(HostInstance *instance, HostObject *master, int32_t index, double xyz[3],
                       Vec3 Particle::*member, const char *operation) {
  const Particle *p = particleSlot(instance, master, index, operation).particle;
  if (!xyz) {
    return 0;
  }
  const Vec3 v = p ? p->*member : Vec3{};
  xyz[0] = v.x;
  xyz[1] = v.y;
  xyz[2] = v.z;
  return p ? 1 : 0;
}

int32_t particlePosition(HostInstance *instance, HostObject *master, int32_t index, double xyz[3]) {
  return particleVector(instance, master, index, xyz, &Particle::position, "particlePosition");
}

int32_t particleVelocity(HostInstance *instance, HostObject *master, int32_t index, double xyz[3]) {
  return particleVector(instance, master, index, xyz, &Particle::velocity, "particleVelocity");
}

int32_t particleColor(HostInstance *instance, HostObject *master, int32_t index, float rgb[3]) {
  const Particle *p = particleSlot(instance, master, index, "particleColor").particle;
  if (!rgb) {
    return 0;
  }
  const Color c = p ? p->color : Color{0.0f, 0.0f, 0.0f};
  rgb[0] = c.red;
  rgb[1] = c.green;
  rgb[2] = c.blue;
  return p ? 1 : 0;
}

} // namespace

void fillObjectOperations(HostApi &api) {
  api.objectType = objectType;
  api.objectNext = objectNext;
  api.objectDown = objectDown;
  api.objectGetMatrix = objectGetMatrix;
  api.objectSetMatrix = objectSetMatrix;
  api.objectGetParameter = objectGetParameter;
  api.objectGetMode = objectGetMode;
  api.objectClone = objectClone;
  api.objectFree = objectFree;
  api.cameraFocalLength = cameraFocalLength;
  api.cameraApertureWidth = cameraApertureWidth;
  api.objectGetDataReal = objectGetDataReal;
  api.objectGetName = objectGetName;
  api.particleLibraryLoad = particleLibraryLoad;
  api.particleCount = particleCount;
  api.particleAlive = particleAlive;
  api.particlePosition = particlePosition;
  api.particleVelocity = particleVelocity;
  api.particleColor = particleColor;
}

} // namespace standin
