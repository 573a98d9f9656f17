/* emberkit: particle renderer with a flat C interface.
 *
 * Every function but ekApiVersion and the image writers works on an opaque context. Status results
 * are 0 for success and 1 for failure; the reason of a failure is read with ekLastError and stays
 * until the next failure on the same context (success never clears it). Every call with a status
 * result first makes the context's device current on the calling thread; when that fails it
 * returns 1 with the reason "NAME: make device current: REASON" (NAME the function) and does
 * nothing else. A fault inside a call fails it with "NAME: out of host memory" when memory ran
 * out, and with a text that names the fault otherwise.
 *
 * Threads: any thread may call any function on a context. Calls on one context run one at a time:
 * a call made while another thread's call on the same context runs waits for it to return, so a
 * render never sees a reservation or an upload half done. Calls on different contexts do not wait
 * for each other. ekDestroy is the exception: it must be the last call on its context, made once
 * no other thread is inside a call on that context or will make one. */
#ifndef EMBERKIT_H
#define EMBERKIT_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(EMBERKIT_BUILDING)
#define EK_API __declspec(dllexport)
#elif defined(EMBERKIT_STATIC) /* linked from a static library, as the tests do */
#define EK_API
#else
#define EK_API __declspec(dllimport)
#endif
#else
#define EK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Interface version reported by ekApiVersion. */
#define EK_API_VERSION 6

/* Device ordinal that selects the CPU backend in ekCreate; ordinals >= 0 select CUDA devices. */
#define EK_DEVICE_CPU (-1)

/* Projection and mode values of the records below. */
#define EK_PROJECTION_PERSPECTIVE 0
#define EK_PROJECTION_SPHERICAL 1
#define EK_MODE_ADDITIVE 0
#define EK_MODE_VOLUMETRIC 1

/* Pole merge modes of EKCamera.topMergeMode and bottomMergeMode: how the stereo eye offset fades
 * towards a pole. Any other non-zero value fades linearly. */
#define EK_MERGE_OFF 0
#define EK_MERGE_LINEAR 1
#define EK_MERGE_POWER 2

/* Light types of EKLight.type; any other value is a point light. */
#define EK_LIGHT_POINT 0
#define EK_LIGHT_SPOT 1
#define EK_LIGHT_DIRECTIONAL 2

/* Distance falloff modes of EKLight.falloff, with R = falloffRadius; any other value is none. */
#define EK_FALLOFF_NONE 0
#define EK_FALLOFF_INVERSE_SQUARE 1         /* R^2 / d^2 */
#define EK_FALLOFF_INVERSE_SQUARE_CLAMPED 2 /* R^2 / d^2, at most 1 */
#define EK_FALLOFF_INVERSE 3                /* R / d */
#define EK_FALLOFF_INVERSE_CLAMPED 4        /* R / d, at most 1 */
#define EK_FALLOFF_RAMP 5                   /* 1 inside falloffInner, linear down to 0 at R */
#define EK_FALLOFF_STEP 6                   /* 1 inside R, 0 outside */

typedef struct EKContext EKContext;

/* Three packed floats: positions and velocities (displacement per frame). */
typedef struct EKV3 {
  float x, y, z;
} EKV3;

/* Camera of a render request (104 bytes, packed 4-byte fields). Angles in degrees. */
typedef struct EKCamera {
  EKV3 eye;
  EKV3 target;
  EKV3 up;
  float fovY;
  float focusDistance; /* 0 = no depth of field */
  float aperture;      /* lens radius in scene units; 0 = no depth of field */
  int32_t projection;  /* EK_PROJECTION_SPHERICAL or perspective */
  float lonMin, lonMax, latMin, latMax;
  float eyeOffset; /* spherical stereo: signed half eye separation; 0 = mono */
  float zeroParallaxDistance;
  float stereoPivotOffset;
  int32_t topMergeMode, bottomMergeMode; /* EK_MERGE_... */
  float topMergeAngle, bottomMergeAngle;
  float topMergeExponent, bottomMergeExponent;
} EKCamera;

/* Image size and look of a render request (76 bytes, packed 4-byte fields). */
typedef struct EKRenderSettings {
  int32_t width, height;
  float brightness;
  float exposure;
  int32_t repopulation; /* extra Gaussian copies per particle */
  float radius;         /* standard deviation of the copies' offset */
  int32_t samples;      /* samples per particle copy */
  float shutter;        /* motion-blur shutter in frames */
  uint32_t seed;
  int32_t mode; /* EK_MODE_VOLUMETRIC or additive */
  float density;
  float emission;
  float ambient[3];
  float scattering;
  int32_t shadowMapSize;
  int32_t shadowSlices;
  int32_t cameraSlices;
} EKRenderSettings;

/* A light of the volumetric mode (64 bytes, packed 4-byte fields). Angles in degrees. */
typedef struct EKLight {
  int32_t type; /* EK_LIGHT_... */
  EKV3 position;
  EKV3 direction;
  float color[3]; /* already multiplied by the intensity */
  float outerAngle;
  float innerAngle;
  int32_t falloff; /* EK_FALLOFF_... */
  float falloffRadius;
  float falloffInner;
  int32_t castsShadows;
} EKLight;

EK_API int32_t ekApiVersion(void);
/* Creates a context on CUDA device `device` (>= 0) or on the CPU (EK_DEVICE_CPU). A CUDA device
 * that cannot be used still gives a context, whose last error says "Could not initialize CUDA
 * device". Null only when no context can be made at all: the host is out of memory, or the CPU
 * backend cannot start its worker threads (the system's thread limit is reached). */
EK_API EKContext *ekCreate(int32_t device);
/* Frees the context and everything it holds. Unlike every other call it does not wait for calls
 * running on other threads: call it only once they have returned, and make no call after it. */
EK_API void ekDestroy(EKContext *context);
/* The text of the context's last failure ("" when none; "no context" for null). Each thread gets
 * its own copy of the text, valid until that thread asks again on this context or the context is
 * destroyed, so another thread's failure does not change a text being read. */
EK_API const char *ekLastError(EKContext *context);
EK_API int32_t ekDeviceInfo(EKContext *context, char *buffer, int32_t size);
EK_API uint64_t ekGetCount(EKContext *context);

/* Makes room for `capacity` particles, with velocity storage when withVelocity is non-zero. A
 * request that fits the reservation (a smaller count included) changes nothing. Any other request
 * reallocates every particle array and discards the particles held: the count drops to 0 and the
 * particles must be uploaded again. This holds as well when only velocity storage is added to a
 * reservation that is large enough, and when a reservation made with velocity storage grows
 * without it (the velocity storage is then dropped). */
EK_API int32_t ekReserve(EKContext *context, uint64_t capacity, int32_t withVelocity);
EK_API int32_t ekUpload(EKContext *context, const EKV3 *positions, const uint8_t *colors,
                        const EKV3 *velocities, uint64_t count, uint64_t first);
EK_API int32_t ekSetCount(EKContext *context, uint64_t count);
EK_API int32_t ekGenerateTestCloud(EKContext *context, uint64_t count, uint32_t seed,
                                   int32_t withVelocity);

/* Renders the particles held when the call starts; a reservation or an upload asked for by another
 * thread meanwhile waits until the image is done (and one asked for earlier is complete first). */
EK_API int32_t ekRender(EKContext *context, const EKCamera *camera,
                        const EKRenderSettings *settings, const EKLight *lights, int32_t lightCount,
                        uint8_t *image8, float *imageFloat, float *gpuMs);

/* The image writers: width x height pixels of four floats (red, green, blue, alpha; linear and
 * premultiplied, top row first) to an EXR file (half floats) or a PNG file (8 or 16 bits). They
 * keep no state and need no context; ekSaveEXR converts a large image on one short-lived helper
 * thread beside the writing one, which has ended when the call returns. The file is written under
 * a temporary name in the target's folder, ".ek-write-NAME.PID-TOKEN.tmp" (NAME the target's file
 * name, PID the calling process), and replaces the target only when complete, so a failed write (a
 * full disk, a process killed half way) leaves a previous file at the path as it was. Every failure
 * the call returns removes the temporary file, also when the folder was moved away meanwhile
 * (ENOENT); one that a killed process left is removed by the next write of the same target once
 * nothing has written to it for two minutes. A target that is not a regular file (a device such as
 * /dev/full) is written in place. On failure
 * they return 1 and leave the reason in errno: the system's error of the failing call (ENOENT for
 * a missing folder, EACCES, ENOSPC...), EINVAL for bad arguments, EFBIG for an image beyond the
 * format's limits and ENOMEM when memory ran out. */
EK_API int32_t ekSaveEXR(const char *path, int32_t width, int32_t height, const float *rgba);
EK_API int32_t ekSavePNG(const char *path, int32_t width, int32_t height, const float *rgba,
                         int32_t sixteenBit);

#ifdef __cplusplus
}
#endif

#endif
