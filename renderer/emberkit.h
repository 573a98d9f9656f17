/* emberkit: particle renderer with a flat C interface.
 *
 * Every function but ekApiVersion, ekLayerChannels and the image writers' five (ekSaveEXR,
 * ekSavePNG, ekSaveLayeredEXR, ekPngSizeSupported, ekLastWriteError) works on an opaque context.
 * Status results are 0 for success and 1 for failure; the reason of a failure is read with
 * ekLastError and stays until the next failure on the same context (success never clears it); a
 * writer's with ekLastWriteError. Every call on a context with a status result first makes the
 * context's device current on the calling thread; when that fails it returns 1 with the reason
 * "NAME: make device current: REASON" (NAME the function) and does nothing else. A fault inside a
 * call fails it with "NAME: out of host memory" when memory ran out, and with a text that names the
 * fault otherwise.
 *
 * Threads: any thread may call any function on a context. Calls on one context run one at a time:
 * a call made while another thread's call on the same context runs waits for it to return, so a
 * render never sees a reservation or an upload half done. Calls on different contexts do not wait
 * for each other, and contexts share no state: a CUDA context queues its work on a stream of its
 * own, so contexts on one GPU render at once from separate threads, each with its own lights, and
 * each waits for its own work only. ekDestroy is the exception: it must be the last call on its
 * context, made once no other thread is inside a call on that context or will make one.
 *
 * Use: create a context, reserve room for the particles, upload them (in one call or in pieces),
 * set the count to draw, render as often as needed, write the image, destroy the context.
 *
 *   #include <stdio.h>
 *   #include <stdlib.h>
 *   #include <string.h>
 *   #include "emberkit.h"
 *
 *   int renderCloud(const EKV3 *positions, const uint8_t *colors, uint64_t n) {
 *     EKContext *ek = ekCreate(EK_DEVICE_CPU);             // or a CUDA ordinal: 0, 1, ...
 *     if (!ek)
 *       return 1;
 *     EKCamera camera = {0};
 *     camera.eye.z = 300.0f;                                // looking at the origin along -z
 *     camera.up.y = 1.0f;
 *     camera.fovY = 45.0f;
 *     EKRenderSettings look = {0};
 *     look.width = 1920;
 *     look.height = 1080;
 *     look.brightness = 0.15f * 1920 * 1080 / (float)n;    // ekrender's normalisation
 *     look.exposure = 1.0f;
 *     look.radius = 1.0f;
 *     look.samples = 1;
 *     look.mode = EK_MODE_ADDITIVE;
 *     float *rgba = malloc(sizeof(float) * 4 * 1920 * 1080);
 *     int failed = !rgba || ekReserve(ek, n, 0) || ekUpload(ek, positions, colors, NULL, n, 0) ||
 *                  ekSetCount(ek, n) ||
 *                  ekRender(ek, &camera, &look, NULL, 0, NULL, rgba, NULL);
 *     if (failed)
 *       fprintf(stderr, "render: %s\n", ekLastError(ek));
 *     else if (ekSavePNG("cloud.png", look.width, look.height, rgba, 0))
 *       fprintf(stderr, "cloud.png: %s\n", strerror(ekLastWriteError()));
 *     free(rgba);
 *     ekDestroy(ek);
 *     return failed;
 *   }
 *
 * ekUpload already raises the count to the particles it wrote; ekSetCount is there to draw fewer
 * (or, after a smaller upload into a larger reservation, to draw the first N only).
 *
 * Units: positions, the camera and the lights share the scene's own length unit, whatever it is;
 * velocities are that unit per frame; angles are degrees; the world is right-handed and the
 * camera's up vector chooses which way is up. Particle colours are 4 bytes per particle, red,
 * green, blue, alpha, 255 = full. Images are width x height pixels, top row first, each pixel
 * four 8-bit or four float channels in the order red, green, blue, alpha. */
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
#define EK_API_VERSION 7

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

/* The renderer's state: its device, the particles, the image buffers and the last error. Made by
 * ekCreate, freed by ekDestroy; its fields are private. */
typedef struct EKContext EKContext;

/* Three packed floats: positions (scene units) and velocities (scene units per frame). */
typedef struct EKV3 {
  float x, y, z;
} EKV3;

/* Camera of a render request (104 bytes, packed 4-byte fields). Angles in degrees. Zero-filling
 * the record and setting eye, target, up and fovY gives a plain perspective camera.
 * "Defaults" below are those of the command-line renderer ekrender. */
typedef struct EKCamera {
  EKV3 eye;            /* camera position; ekrender frames the particles */
  EKV3 target;         /* point looked at; ekrender takes the particles' centre */
  EKV3 up;             /* up direction, any length, not along the view; need not be square to it
                          (default 0,1,0) */
  float fovY;          /* perspective: vertical field of view, above 0 and below 180 (default 45) */
  float focusDistance; /* perspective: distance in focus; 0 = no depth of field (default 0) */
  float aperture;      /* perspective: lens radius in scene units; 0 = no depth of field. Depth of
                          field needs both above 0 (default 0) */
  int32_t projection;  /* EK_PROJECTION_SPHERICAL or perspective (any other value) */
  /* Spherical only, the latitude-longitude image: its longitude range (default -180..180; an
   * empty or inverted range gives the full circle, a range wider than 360 is cut to 360) and
   * latitude range (default -90..90, each end limited to the poles; empty gives the full range).
   * The spherical camera has no lens: focusDistance and aperture are ignored. */
  float lonMin, lonMax, latMin, latMax;
  /* Spherical only, omni-directional stereo: the signed half eye separation in scene units
   * (positive for one eye, negative for the other; 0 = mono, default), the distance at which the
   * eyes converge (0 = parallel eyes; negative counts as 0) and the offset of the point the eyes
   * turn about when they converge (default 0). */
  float eyeOffset;
  float zeroParallaxDistance;
  float stereoPivotOffset;
  /* Spherical stereo only: within topMergeAngle degrees of the north pole (bottom: the south
   * pole) the eye offset fades to 0, in proportion to the angle from the pole (EK_MERGE_LINEAR)
   * or to its power mergeExponent (EK_MERGE_POWER; an exponent <= 0 counts as 1). EK_MERGE_OFF or
   * an angle <= 0 keeps the full offset up to the pole (default off). */
  int32_t topMergeMode, bottomMergeMode;
  float topMergeAngle, bottomMergeAngle;
  float topMergeExponent, bottomMergeExponent;
} EKCamera;

/* Image size and look of a render request (76 bytes, packed 4-byte fields). Defaults are those
 * of ekrender; the plug-in's differ where it says "plug-in". */
typedef struct EKRenderSettings {
  int32_t width, height; /* pixels, each at least 1, width x height at most 2147483647 */
  /* The light of each particle copy. ekrender and the plug-in pass
   * 0.15 x B x width x height / ((repopulation + 1) x particle count), B their brightness
   * (default 1), so that the image keeps its look whatever the size and the particle count. */
  float brightness;
  /* Each channel is resolved as 1 - exp(-exposure x accumulated light) (default 1). */
  float exposure;
  int32_t repopulation; /* extra Gaussian copies drawn around each particle; < 0 counts as 0
                           (default 0) */
  float radius;         /* standard deviation of the copies' offset, scene units (default 1;
                           plug-in 2) */
  int32_t samples;      /* samples per particle copy, for depth of field and motion blur; < 1
                           counts as 1 (default 1, or 16 with a lens or motion blur; plug-in 4
                           with depth of field or motion blur, else 1) */
  float shutter;        /* motion-blur shutter in frames: samples spread over -shutter/2 ..
                           shutter/2 along the velocity; <= 0 = no blur (default 0; plug-in 0.5
                           when its motion blur is on) */
  uint32_t seed;        /* seed of the lens and shutter samples (default 1) */
  int32_t mode;         /* EK_MODE_VOLUMETRIC or additive (any other value) */
  /* Volumetric only; the additive look ignores every field from here on. */
  float density;    /* density of the medium, scaled by the cloud's measured size over its
                       particle count; <= 0 draws nothing (default 1) */
  float emission;   /* self-illumination added to the light of every sample (default 0.05;
                       plug-in 0) */
  float ambient[3]; /* ambient light, red, green, blue (default 0.05, 0.05, 0.06; plug-in 0) */
  float scattering; /* Henyey-Greenstein anisotropy of the scattered light, limited to
                       -0.95 .. 0.95; 0 scatters evenly (default 0) */
  /* Shadow-map quality: texels per side (<= 8 gives 512), depth slices of the lights' maps
   * (<= 1 gives 64) and of the camera's depth map (<= 1 gives 32). ekrender's and the plug-in's
   * low, medium (default) and high are 256/32/16, 512/64/32 and 1024/96/48. */
  int32_t shadowMapSize;
  int32_t shadowSlices;
  int32_t cameraSlices;
} EKRenderSettings;

/* A light of the volumetric look (64 bytes, packed 4-byte fields). Angles in degrees. */
typedef struct EKLight {
  int32_t type;     /* EK_LIGHT_... */
  EKV3 position;    /* point and spot lights; a directional light ignores it */
  EKV3 direction;   /* where a spot or directional light shines to (normalised by the
                       renderer); a point light ignores it */
  float color[3];   /* red, green, blue, already multiplied by the intensity */
  float outerAngle; /* spot: full cone angle, limited to 0.1 .. 175 */
  float innerAngle; /* spot: full angle of the fully lit core, limited to 0 .. outerAngle; the
                       light fades smoothly between the two */
  int32_t falloff;  /* EK_FALLOFF_...; point and spot lights, a directional light has none.
                       The inverse modes with falloffRadius <= 0 do not fall off */
  float falloffRadius;
  float falloffInner;   /* EK_FALLOFF_RAMP: distance up to which the light is full */
  int32_t castsShadows; /* non-zero: the light casts shadows through the medium (a point light
                           costs six shadow maps, a spot or directional light one) */
} EKLight;

/* The interface version of the library at hand, EK_API_VERSION of the header it was built with:
 * a program compares it with its own EK_API_VERSION to refuse a library of another version. Needs
 * no context; any thread. */
EK_API int32_t ekApiVersion(void);

/* Creates a context on CUDA device `device` (>= 0) or on the CPU (EK_DEVICE_CPU). A CUDA device
 * that cannot be used (or a library built without CUDA) still gives a context, whose last error
 * says "Could not initialize CUDA device"; destroy it and fall back to the CPU if you like. Null
 * only when no context can be made at all: the host is out of memory, or the CPU backend cannot
 * start its worker threads (the system's thread limit is reached). Any thread; the new context is
 * the caller's alone until it hands it on. */
EK_API EKContext *ekCreate(int32_t device);

/* Frees the context and everything it holds; null is accepted and does nothing. Unlike every other
 * call it does not wait for calls running on other threads: call it only once they have returned,
 * and make no call after it. Texts handed out by ekLastError become invalid. */
EK_API void ekDestroy(EKContext *context);

/* The text of the context's last failure ("" when none; "no context" for null). Each thread gets
 * its own copy of the text, valid until that thread asks again on this context or the context is
 * destroyed, so another thread's failure does not change a text being read. Never null. Waits
 * for a call running on the context, like every call but ekDestroy. */
EK_API const char *ekLastError(EKContext *context);

/* Writes a one-line description of the context's device into `buffer` of `size` bytes: "NAME | CC
 * MAJOR.MINOR | VRAM free F / T GB", cut to fit and always terminated. On the CPU NAME is the
 * processor and its worker count, CC is 0.0 and the memory figures are the host's. Returns 0, or 1
 * for a null context, a null buffer or size < 1 (those leave the last error as it was) and when
 * the device cannot be asked (the last error says why). Memory figures that cannot be read are
 * printed as 0. Waits for a call running on the context. */
EK_API int32_t ekDeviceInfo(EKContext *context, char *buffer, int32_t size);

/* The number of particles a render draws; 0 for a null context. Waits for a call running on the
 * context, so it sees an upload whole. */
EK_API uint64_t ekGetCount(EKContext *context);

/* Makes room for `capacity` particles, with velocity storage when withVelocity is non-zero. A
 * request that fits the reservation (a smaller count included) changes nothing. Any other request
 * reallocates every particle array and discards the particles held: the count drops to 0 and the
 * particles must be uploaded again. This holds as well when only velocity storage is added to a
 * reservation that is large enough, and when a reservation made with velocity storage grows
 * without it (the velocity storage is then dropped).
 * Each particle takes 16 bytes of the device's memory (28 with velocity; on the CPU the host's
 * memory), and the new arrays plus 512 MiB must fit in the free memory and the memory of the
 * reservation they replace; a larger request is refused with "Not enough VRAM: needs X GB, approx.
 * Y GB available" ("host memory" on the CPU) and keeps the particles held. When the allocation
 * itself fails the particles are already gone: the context then holds none (capacity and count 0).
 * Returns 0 or 1. Waits for a call running on the context (a render included). */
EK_API int32_t ekReserve(EKContext *context, uint64_t capacity, int32_t withVelocity);

/* Copies `count` particles into the reservation at particles first .. first + count - 1:
 * `positions` (count EKV3, required), `colors` (count x 4 bytes RGBA8, red first; null makes
 * them opaque white 255,255,255,255) and `velocities` (count EKV3 in scene units per frame; only
 * into a reservation made with velocity storage, where null stores zero velocities). The count
 * drawn rises to first + count when that is more, and never falls here (see ekSetCount). An upload
 * starting at particle 0 decides whether renders use the velocities at all: with velocities they
 * do, without they do not, whatever later uploads at other places pass.
 * The additive look uses the colour's alpha for the image's coverage; the volumetric look reads
 * red, green and blue only.
 * Fails, writing nothing, for null positions ("ekUpload: invalid parameters"), for first + count
 * beyond the reservation ("ekUpload: capacity exceeded (call ekReserve first)") and for
 * velocities without velocity storage. A failing device copy may leave part of the range written;
 * the count then stays as it was. Returns 0 or 1. Waits for a call running on the context; several
 * threads may upload pieces of one reservation, one after another. */
EK_API int32_t ekUpload(EKContext *context, const EKV3 *positions, const uint8_t *colors,
                        const EKV3 *velocities, uint64_t count, uint64_t first);

/* Sets the number of particles a render draws, the first `count` of the reservation: any value up
 * to the reservation's capacity, 0 included. Particles never uploaded are drawn from whatever the
 * storage holds. A larger count fails ("ekSetCount: larger than capacity") and keeps the count.
 * Returns 0 or 1. Waits for a call running on the context. */
EK_API int32_t ekSetCount(EKContext *context, uint64_t count);

/* Fills the context with `count` particles of a procedural galaxy made from `seed`, with colours,
 * and with velocities when withVelocity is non-zero (renders then use them for motion blur; with
 * 0 they do not). Reserves first, exactly as ekReserve(context, count, withVelocity) does, with its
 * failures and discards; on success the count is `count`. Returns 0 or 1. Waits for a call
 * running on the context. */
EK_API int32_t ekGenerateTestCloud(EKContext *context, uint64_t count, uint32_t seed,
                                   int32_t withVelocity);

/* Renders the particles held when the call starts; a reservation or an upload asked for by another
 * thread meanwhile waits until the image is done (and one asked for earlier is complete first).
 * `camera` and `settings` are required. `lights` (lightCount records) are read by the volumetric
 * look only, the first 8 of them; null or lightCount <= 0 means no lights. A camera, settings or
 * used light with a float that is not finite fails with "ekRender: invalid parameters", as do
 * null records and a width or height below 1; an image of more than 2147483647 pixels and more
 * than 2^64 samples (particles x copies x samples) fail as well, each with its own text.
 * The image goes to `image8`, width x height x 4 bytes RGBA8, gamma 2.2, alpha always 255, and/or
 * `imageFloat`, width x height x 4 floats, linear after the exposure curve, with the coverage as
 * alpha (the additive look keeps colour at or below it), ready for ekSaveEXR or ekSavePNG; either
 * may be null, and with both null the render still runs (for its time). `gpuMs`, when not null,
 * receives the time of the context's passes in milliseconds (0 when the device cannot tell); on a
 * GPU that other contexts render on meanwhile, the passes share it and take longer. Memory for the
 * image buffers is kept between renders of one size; on a GPU the volumetric look also keeps its
 * exact colour sums, 48 bytes a pixel, until the context ends. On failure the caller's images are
 * left as they were, with one exception on a GPU: when the float image fails to download, the
 * 8-bit one has already been written. Returns 0 or 1. */
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
 * they return 1, and ekLastWriteError tells the reason as an errno number: the system's error of
 * the failing call (ENOENT for a missing folder, EACCES, ENOSPC...), EINVAL for bad arguments,
 * EFBIG for an image beyond the format's limits (ekPngSizeSupported) and ENOMEM when memory ran
 * out. The reason is left in errno as well, which serves a program that shares the library's C
 * runtime. */

/* Writes `rgba` (width x height x 4 floats) to the EXR file at `path` (UTF-8), as half floats.
 * Returns 0, or 1 with the reason in ekLastWriteError. Any thread, several at once. */
EK_API int32_t ekSaveEXR(const char *path, int32_t width, int32_t height, const float *rgba);

/* Writes `rgba` (width x height x 4 floats) to the PNG file at `path` (UTF-8), 16 bits per
 * channel when sixteenBit is non-zero, else 8. Returns 0, or 1 with the reason in
 * ekLastWriteError. Any thread, several at once. */
EK_API int32_t ekSavePNG(const char *path, int32_t width, int32_t height, const float *rgba,
                         int32_t sixteenBit);

/* Whether ekSavePNG takes an image of width x height pixels (16 bits per channel when sixteenBit
 * is non-zero): 1 or 0, and 0 for a side below 1. The whole image is compressed in one piece, so
 * a PNG holds up to about 18700 x 18700 pixels at 8 bits, 13200 x 13200 at 16; larger
 * images fail with EFBIG. Lets a program refuse a size before it renders. Any thread. */
EK_API int32_t ekPngSizeSupported(int32_t width, int32_t height, int32_t sixteenBit);

/* The reason the calling thread's latest ekSaveEXR, ekSavePNG or ekSaveLayeredEXR call failed, as
 * an errno number (compare it with the C library's ENOENT, EACCES... or pass it to strerror); 0
 * when that call succeeded or the thread has made none. Each thread has its own. Read the reason
 * here rather than from errno: on Windows a program and the library can each have a C runtime of
 * their own (one linked into each, or a program on another runtime, as Python is), and then the
 * writer's errno is not the one the program reads. */
EK_API int32_t ekLastWriteError(void);

/* Render layers: images beside the beauty for compositing, made by ekRenderLayers in the same
 * render as the beauty. Each layer is width x height pixels, top row first, of the number of
 * float channels given below (ekLayerChannels), channels of a pixel side by side.
 *
 *   EK_LAYER_COVERAGE  1: the pixel's optical thickness T, the matte before its curve: the
 *                      volumetric alpha is 1 - exp(-T); in the additive look T is exposure x
 *                      the summed particle alpha, and 1 - exp(-T) the alpha before it is raised
 *                      to the brightest colour. Unbounded, for grading with headroom.
 *   EK_LAYER_RAW       3: red, green, blue: the linear sum of light before the exposure curve.
 *   EK_LAYER_DEPTH     1: Z, the distance from the camera in scene units at which the pixel's
 *                      alpha, gathered front to back, reaches half of its final alpha (the
 *                      depth in front of which half of what the pixel shows lies): a faint
 *                      particle in front of a dense cloud does not pull Z forward, and two
 *                      clouds one behind the other give the depth of the one that dominates,
 *                      not a blend. Perspective: along the view axis (the camera-plane
 *                      distance); spherical: along the ray. The volumetric look reads it from
 *                      its camera depth map, exact to about one slice of the map (the cloud's
 *                      depth range over cameraSlices, default 32). The additive look, whose
 *                      particles hide nothing, gathers four moments of their depth per pixel
 *                      in its splat (16 bytes a pixel, and a measure of the cloud's depth
 *                      range, which later renders reuse until ekUpload, ekSetCount,
 *                      ekReserve or ekGenerateTestCloud changes the particles) and reads Z
 *                      from the spread of two even clumps of equal width that has those
 *                      moments: exact, to float rounding, for one or two thin clouds (a
 *                      sheet in front of another) and for one cloud spread evenly
 *                      in depth; for other spreads an estimate (a bell-shaped cloud: within
 *                      about 3 % of the depth range; three thin clouds: near the middle of the
 *                      one that holds the half-alpha point, within about 15 %, but anywhere
 *                      between two neighbouring clouds where that point lies close to their
 *                      border). Pixels whose alpha stays below 1/255 hold EK_DEPTH_NOTHING.
 *   EK_LAYER_FORWARD   2: u, v: where the pixel's content moves until the next frame, in pixels
 *                      per frame (u to the right, v down the image), from the particles'
 *                      velocities; the average over the pixel's samples, each weighted by what
 *                      it adds to the pixel's coverage, not premultiplied. The particles move
 *                      on straight lines at their velocity, so any shutter gives them; without
 *                      velocities (see ekUpload) both are 0. Pinhole positions: a lens's blur
 *                      is not in them; the spherical camera gives those of its centre eye.
 *   EK_LAYER_BACKWARD  2: u, v: the same towards the previous frame.
 *   EK_LAYER_EMISSION  3: red, green, blue: the part of the beauty's colour that the particles
 *                      give of themselves (volumetric: settings.emission; additive: all of it).
 *   EK_LAYER_AMBIENT   3: the part that the ambient light gives (volumetric look only).
 *   EK_LAYER_LIGHT     3: the part that the light EKLayer.light gives (volumetric look only;
 *                      a light of lights[0 .. min(lightCount, 8) - 1]).
 *
 * The parts (emission, ambient and one per light) split each colour channel of the beauty's
 * float image in the shares their light adds to the pixel's linear sum: all parts of a pixel
 * add up to its colour, to float rounding. Depth, motion and the parts other than the additive
 * look's emission cost work over the particles (the additive look adds its depth and motion sums
 * in the beauty's own splat); coverage and raw cost a pass over the pixels. */
#define EK_LAYER_COVERAGE 0
#define EK_LAYER_RAW 1
#define EK_LAYER_DEPTH 2
#define EK_LAYER_FORWARD 3
#define EK_LAYER_BACKWARD 4
#define EK_LAYER_EMISSION 5
#define EK_LAYER_AMBIENT 6
#define EK_LAYER_LIGHT 7

/* The depth of a pixel that shows nothing: large, but finite for every compositor's arithmetic. */
#define EK_DEPTH_NOTHING 1.0e10f

/* One layer a render is asked for (16 bytes on 64-bit systems, 12 on 32-bit ones). */
typedef struct EKLayer {
  int32_t kind;  /* EK_LAYER_... */
  int32_t light; /* EK_LAYER_LIGHT: the light's index in the render's lights; else ignored */
  float *pixels; /* width x height x ekLayerChannels(kind) floats, written by the render */
} EKLayer;

/* Float channels per pixel of a layer kind; 0 for a kind that does not exist. No context; any
 * thread. */
EK_API int32_t ekLayerChannels(int32_t kind);

/* ekRender with layers: renders the beauty into image8 and imageFloat exactly as ekRender does
 * (same arguments, same rules, the same passes and images; on a GPU, whose additive splat adds
 * floats in whatever order its threads make them, the additive look's may differ in the last bits
 * from one render to the next, ekRender's own included) and, in the same render, writes each of the
 * `layerCount` layers of `layers` to its pixels. layerCount 0 (layers may then be null) is
 * ekRender. The request is checked whole before anything runs; each of these fails the call with
 * its own text, leaving the caller's images and layers and the context's particles as they were: a
 * null layer list with layerCount > 0, a negative layerCount, a kind that does not exist ("unknown
 * layer kind K"), a null pixels pointer, a kind asked for twice (a light's part: the same light
 * twice), a layer the look does not have ("the additive look has no ambient layer", and "... no
 * light layer"), and a light index outside the lights used. Other failures are those of ekRender,
 * with the same effect on the caller's buffers. Memory: the layers that cost work over the
 * particles take, per pixel, 12 bytes per part, 20 bytes for motion (forward and backward together)
 * and, on a GPU, 4 bytes per layer channel asked for, kept between renders of one size and request;
 * a volumetric render on a GPU adds those sums exactly in 16 bytes per float, kept until the
 * context ends. Calls on one context wait for each other, as every call
 * does; separate contexts render their layers at once. Returns 0 or 1. */
EK_API int32_t ekRenderLayers(EKContext *context, const EKCamera *camera,
                              const EKRenderSettings *settings, const EKLight *lights,
                              int32_t lightCount, const EKLayer *layers, int32_t layerCount,
                              uint8_t *image8, float *imageFloat, float *gpuMs);

/* A layered EXR file: the beauty and its layers in one single-part scan-line OpenEXR file, as
 * compositors read them. Each channel is named, stored as half or float, and read from the
 * caller's floats wherever they lie, so the beauty's interleaved RGBA and a layer's pixels go in
 * without a copy. Names as readers expect them: the beauty "R", "G", "B", "A" and the depth "Z"
 * bare, every other channel "<layer>.<channel>" with one letter after the dot ("forward.u",
 * "light1.R", "coverage.Y"), which Blender reads as named passes. */
#define EK_EXR_HALF 0  /* 16-bit half float, rounded to nearest even; beyond 65504 infinity */
#define EK_EXR_FLOAT 1 /* 32-bit float, exactly as given */

#define EK_EXR_COMPRESSION_NONE 0 /* one block per scan line, stored as it is */
#define EK_EXR_COMPRESSION_ZIP 1  /* blocks of 16 scan lines, each one zlib stream */

/* One channel of a layered EXR file (32 bytes on 64-bit systems). The value of pixel (x, y), y = 0
 * the top row, is pixels[y * rowStride + x * pixelStride]; the data is only read. */
typedef struct EKExrChannel {
  const char *name;    /* UTF-8, 1 to 255 bytes, unique within the file */
  int32_t type;        /* EK_EXR_HALF or EK_EXR_FLOAT */
  int32_t pixelStride; /* floats from a pixel to its right-hand neighbour: 1 for a plane of its
                          own, 4 for one component of interleaved RGBA; at least 1 */
  const float *pixels; /* the top-left pixel's value */
  int64_t rowStride;   /* floats from a row to the next; 0 for width x pixelStride */
} EKExrChannel;

/* Writes the `channelCount` channels of `channels` (width x height pixels each) to the layered EXR
 * file at `path` (UTF-8), compressed as `compression` (EK_EXR_COMPRESSION_...). The file lists its
 * channels sorted by name, as the format requires, whatever their order here; its header holds
 * the Rec. 709 primaries with a D65 white as "chromaticities" and, when not null, the camera's
 * matrices as "worldToCamera" and "worldToNDC": 16 floats each in OpenEXR's order (element
 * [row * 4 + column], points as row vectors, the translation in elements 12 to 14). Large images
 * are converted and compressed on short-lived helper threads, one per processor core, which have
 * ended when the call returns. The file is written under a temporary name and replaces the target
 * only when complete, like ekSaveEXR's (see the image writers above): on any failure a previous
 * file at the path is left as it was. Everything is checked before any file is made: a null path
 * or channel list, a channelCount below 1, a size below 1, a channel with a null name or pixels, an
 * empty, repeated or over-long name, an unknown type or compression, a pixelStride below 1 or a
 * negative rowStride fail with EINVAL; an image beyond the format's limits (a block of scan lines
 * holds less than 2^31 bytes) with EFBIG. Returns 0, or 1 with the reason in ekLastWriteError.
 * Any thread, several at once. */
EK_API int32_t ekSaveLayeredEXR(const char *path, int32_t width, int32_t height,
                                const EKExrChannel *channels, int32_t channelCount,
                                int32_t compression, const float *worldToCamera,
                                const float *worldToNDC);

#ifdef __cplusplus
}
#endif

#endif
