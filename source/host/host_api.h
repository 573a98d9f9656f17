/* The host's operation table: everything a plug-in module may ask of the 3D host application.
 *
 * A host loads a module, resolves its one entry point HOST_MODULE_ENTRY_NAME and calls it with a
 * message number and a pointer. The first message hands over this table; the module keeps the
 * pointer until HOST_MODULE_END. The table starts with its own size, its version and the host's
 * API level, so that a module can refuse a host that is too old before it touches anything else.
 *
 * Conventions of every operation:
 * - The first argument is the host instance named in the table.
 * - Handles are opaque; the host decides what they are and reports misuse of stale ones.
 * - Texts cross as NUL-terminated UTF-8. An operation that returns a text writes it into the
 *   caller's buffer (truncated, always terminated when size >= 1) and returns the length of the
 *   whole text without terminator, or -1 when there is no text.
 * - Status results are 1 for success or "true", 0 for failure or "false".
 * - Everything is called on the host's main thread. */
#ifndef FLARION_HOST_API_H
#define FLARION_HOST_API_H

#include <stdint.h>

#if defined(_WIN32)
#define HOST_MODULE_EXPORT __declspec(dllexport)
#else
#define HOST_MODULE_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Version of the layout below. A host with a newer minor extension appends operations and keeps
 * the version; a changed meaning of an existing operation raises it. */
#define HOST_API_VERSION 1

/* Name of the module's entry point and its messages. */
#define HOST_MODULE_ENTRY_NAME "xlibMain"
#define HOST_MODULE_INIT 1     /* data: const HostApi*; return 1 to stay loaded, 0 to refuse */
#define HOST_MODULE_IDENTIFY 2 /* data: const char** that receives the module identifier */
#define HOST_MODULE_START 3    /* data: null; return 1 when the module started */
#define HOST_MODULE_MESSAGE 4  /* data: HostPluginMessage*; return 1 when handled */
#define HOST_MODULE_END 5      /* data: null; the table is invalid afterwards */

typedef struct HostInstance HostInstance;
typedef struct HostDialog HostDialog;
typedef struct HostUserArea HostUserArea;
typedef struct HostBitmap HostBitmap;
typedef struct HostDocument HostDocument;
typedef struct HostObject HostObject; /* scene objects, cameras, lights and scene hooks */
typedef struct HostView HostView;
typedef struct HostRenderData HostRenderData;

typedef int32_t (*HostModuleEntry)(int32_t message, void *data);

typedef struct HostPluginMessage {
  int32_t id;
  void *data;
} HostPluginMessage;

/* Kinds of a HostValue. */
#define HOST_VALUE_NONE 0
#define HOST_VALUE_INT 1
#define HOST_VALUE_REAL 2
#define HOST_VALUE_VECTOR 3
#define HOST_VALUE_TIME 4

/* A typed parameter value. Only the fields of its kind are meaningful. */
typedef struct HostValue {
  int32_t kind;
  int64_t integer;
  double real;
  double vector[3];
  int64_t timeNumerator;
  int64_t timeDenominator;
} HostValue;

/* A global matrix: the offset and the three axis vectors, in the host's left-handed frame. */
typedef struct HostMatrix {
  double offset[3];
  double axisX[3];
  double axisY[3];
  double axisZ[3];
} HostMatrix;

/* One entry of a message sent to a dialog control. */
#define HOST_ENTRY_BOOL 1
#define HOST_ENTRY_REAL 2
typedef struct HostMessageEntry {
  int32_t key;
  int32_t kind;
  int32_t boolean;
  double real;
} HostMessageEntry;

/* What the plug-in's command does when the host runs it. The host copies the record; self must
 * stay valid until the module ends. */
typedef struct HostCommandCallbacks {
  void *self;
  int32_t (*execute)(void *self, HostDocument *document);
  int32_t (*restoreLayout)(void *self, void *layoutData);
} HostCommandCallbacks;

/* A dialog's reactions. createLayout builds the controls each time the window opens; initValues
 * follows it; command reports a changed or pressed control; timer fires at the interval set with
 * dialogSetTimer while the window is open; closed reports that the window closed. */
typedef struct HostDialogCallbacks {
  void *self;
  int32_t (*createLayout)(void *self);
  int32_t (*initValues)(void *self);
  int32_t (*command)(void *self, int32_t controlId);
  void (*timer)(void *self);
  void (*closed)(void *self);
} HostDialogCallbacks;

/* A user-drawn area: draw paints the rectangle (x1, y1)-(x2, y2), both corners inclusive;
 * minimumSize reports the smallest size the layout may give the area. */
typedef struct HostUserAreaCallbacks {
  void *self;
  void (*draw)(void *self, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
  void (*minimumSize)(void *self, int32_t *width, int32_t *height);
} HostUserAreaCallbacks;

typedef struct HostApi {
  uint32_t size; /* sizeof(HostApi) of the host */
  uint32_t version;
  int32_t apiLevel;
  HostInstance *instance;

  /* Module */
  int32_t (*registerCommand)(HostInstance *, int32_t id, const char *name, const char *help,
                             const HostCommandCallbacks *callbacks);

  /* Language: the current language's identifier (-1 when the host offers none), or the
   * installed languages by index (0 past the end; isCurrent marks the current one). */
  int32_t (*currentLanguage)(HostInstance *, char *buffer, int32_t size);
  int32_t (*languageAt)(HostInstance *, int32_t index, char *buffer, int32_t size,
                        int32_t *isCurrent);

  /* Dialog object and window */
  HostDialog *(*dialogCreate)(HostInstance *, const HostDialogCallbacks *callbacks);
  void (*dialogFree)(HostInstance *, HostDialog *);
  int32_t (*dialogOpen)(HostInstance *, HostDialog *, int32_t pluginId, int32_t defaultWidth,
                        int32_t defaultHeight); /* non-modal, at the host's default position */
  int32_t (*dialogRestore)(HostInstance *, HostDialog *, int32_t pluginId, void *layoutData);
  int32_t (*dialogSetTitle)(HostInstance *, HostDialog *, const char *title);
  int32_t (*dialogSetTimer)(HostInstance *, HostDialog *, int32_t milliseconds); /* 0 stops */

  /* Dialog layout; flags are the host's layout flags */
  int32_t (*groupBegin)(HostInstance *, HostDialog *, int32_t id, int32_t flags, int32_t columns,
                        int32_t rows);
  int32_t (*groupEnd)(HostInstance *, HostDialog *);
  int32_t (*groupBorderSpace)(HostInstance *, HostDialog *, int32_t left, int32_t top,
                              int32_t right, int32_t bottom);
  int32_t (*groupSpace)(HostInstance *, HostDialog *, int32_t horizontal, int32_t vertical);
  int32_t (*addStaticText)(HostInstance *, HostDialog *, int32_t id, int32_t flags,
                           int32_t minWidth, int32_t minHeight, const char *text);
  int32_t (*addCheckbox)(HostInstance *, HostDialog *, int32_t id, int32_t flags, int32_t minWidth,
                         int32_t minHeight, const char *label);
  int32_t (*addEditSlider)(HostInstance *, HostDialog *, int32_t id, int32_t flags,
                           int32_t minWidth, int32_t minHeight);
  int32_t (*addEditNumber)(HostInstance *, HostDialog *, int32_t id, int32_t flags,
                           int32_t minWidth, int32_t minHeight); /* with arrows */
  int32_t (*addButton)(HostInstance *, HostDialog *, int32_t id, int32_t flags, int32_t minWidth,
                       int32_t minHeight, const char *label);
  int32_t (*addComboBox)(HostInstance *, HostDialog *, int32_t id, int32_t flags, int32_t minWidth,
                         int32_t minHeight);
  int32_t (*addComboEntry)(HostInstance *, HostDialog *, int32_t id, int32_t value,
                           const char *label);
  int32_t (*addCustomGui)(HostInstance *, HostDialog *, int32_t id, int32_t guiType, int32_t flags,
                          int32_t minWidth, int32_t minHeight);
  int32_t (*addUserArea)(HostInstance *, HostDialog *, int32_t id, int32_t flags, int32_t minWidth,
                         int32_t minHeight);
  HostUserArea *(*attachUserArea)(HostInstance *, HostDialog *, int32_t id,
                                  const HostUserAreaCallbacks *callbacks);

  /* Dialog values. Setting a value also sets the range the user may enter; the host clamps what
   * the user types into it. Getters return 0 when the control cannot be read. */
  int32_t (*setBool)(HostInstance *, HostDialog *, int32_t id, int32_t value);
  int32_t (*getBool)(HostInstance *, HostDialog *, int32_t id, int32_t *value);
  int32_t (*setInt)(HostInstance *, HostDialog *, int32_t id, int32_t value, int32_t minimum,
                    int32_t maximum, int32_t step);
  int32_t (*getInt)(HostInstance *, HostDialog *, int32_t id, int32_t *value);
  int32_t (*setReal)(HostInstance *, HostDialog *, int32_t id, double value, double minimum,
                     double maximum, double step, uint32_t format);
  int32_t (*getReal)(HostInstance *, HostDialog *, int32_t id, double *value);
  int32_t (*setText)(HostInstance *, HostDialog *, int32_t id, const char *text);
  int32_t (*enable)(HostInstance *, HostDialog *, int32_t id, int32_t enabled);
  int32_t (*sendMessage)(HostInstance *, HostDialog *, int32_t id, uint32_t messageType,
                         const HostMessageEntry *entries, int32_t count);

  /* User areas */
  int32_t (*userAreaWidth)(HostInstance *, HostUserArea *);
  int32_t (*userAreaHeight)(HostInstance *, HostUserArea *);
  void (*userAreaRedraw)(HostInstance *, HostUserArea *);
  void (*userAreaFill)(HostInstance *, HostUserArea *, int32_t x1, int32_t y1, int32_t x2,
                       int32_t y2, uint8_t red, uint8_t green, uint8_t blue);
  void (*userAreaDrawBitmap)(HostInstance *, HostUserArea *, HostBitmap *bitmap, int32_t x,
                             int32_t y, int32_t width, int32_t height, int32_t smooth);

  /* Bitmaps */
  HostBitmap *(*bitmapCreate)(HostInstance *);
  void (*bitmapFree)(HostInstance *, HostBitmap *);
  int32_t (*bitmapInit)(HostInstance *, HostBitmap *, int32_t width, int32_t height,
                        int32_t bitsPerPixel);
  int32_t (*bitmapWidth)(HostInstance *, HostBitmap *);
  int32_t (*bitmapHeight)(HostInstance *, HostBitmap *);
  int32_t (*bitmapSetRow)(HostInstance *, HostBitmap *, int32_t y, int32_t count,
                          const uint8_t *pixels, int32_t stride); /* RGB from each stride */

  /* Documents */
  HostDocument *(*activeDocument)(HostInstance *);
  HostView *(*documentActiveView)(HostInstance *, HostDocument *);
  HostObject *(*viewSceneCamera)(HostInstance *, HostView *, HostDocument *);
  HostRenderData *(*documentRenderData)(HostInstance *, HostDocument *);
  int32_t (*renderDataGetParameter)(HostInstance *, HostRenderData *, int32_t id, HostValue *value);
  int32_t (*documentFps)(HostInstance *, HostDocument *);
  int32_t (*documentGetTime)(HostInstance *, HostDocument *, int64_t *numerator,
                             int64_t *denominator);
  int32_t (*documentSetTime)(HostInstance *, HostDocument *, int64_t numerator,
                             int64_t denominator);
  int32_t (*documentGetParameter)(HostInstance *, HostDocument *, int32_t id, HostValue *value);
  int32_t (*documentGetText)(HostInstance *, HostDocument *, int32_t id, char *buffer,
                             int32_t size);
  HostObject *(*documentFirstObject)(HostInstance *, HostDocument *);
  HostObject *(*documentFindSceneHook)(HostInstance *, HostDocument *, int32_t id);
  uint32_t (*documentDirty)(HostInstance *, HostDocument *, uint32_t flags);
  HostDocument *(*documentClone)(HostInstance *, HostDocument *, uint32_t flags);
  void (*documentFree)(HostInstance *, HostDocument *);
  int32_t (*documentExecutePasses)(HostInstance *, HostDocument *, int32_t useThread,
                                   int32_t animation, int32_t expressions, int32_t caches,
                                   uint32_t buildFlags);

  /* Objects */
  int32_t (*objectType)(HostInstance *, HostObject *);
  HostObject *(*objectNext)(HostInstance *, HostObject *);
  HostObject *(*objectDown)(HostInstance *, HostObject *);
  int32_t (*objectGetMatrix)(HostInstance *, HostObject *, HostMatrix *matrix);
  int32_t (*objectSetMatrix)(HostInstance *, HostObject *, const HostMatrix *matrix);
  int32_t (*objectGetParameter)(HostInstance *, HostObject *, int32_t id, HostValue *value);
  int32_t (*objectGetMode)(HostInstance *, HostObject *, int32_t selector);
  HostObject *(*objectClone)(HostInstance *, HostObject *, uint32_t flags);
  void (*objectFree)(HostInstance *, HostObject *); /* only for clones the caller owns */
  double (*cameraFocalLength)(HostInstance *, HostObject *);
  double (*cameraApertureWidth)(HostInstance *, HostObject *);
  int32_t (*objectGetDataReal)(HostInstance *, HostObject *, int32_t id, double *value);

  /* Particles of the host's particle system; master is the document's particle scene hook */
  int32_t (*particleLibraryLoad)(HostInstance *, int32_t libraryId, int32_t minimumVersion);
  int32_t (*particleCount)(HostInstance *, HostObject *master);
  int32_t (*particleAlive)(HostInstance *, HostObject *master, int32_t index);
  int32_t (*particlePosition)(HostInstance *, HostObject *master, int32_t index, double xyz[3]);
  int32_t (*particleVelocity)(HostInstance *, HostObject *master, int32_t index, double xyz[3]);
  int32_t (*particleColor)(HostInstance *, HostObject *master, int32_t index, float rgb[3]);

  /* State */
  int32_t (*isMainThread)(HostInstance *);
  int32_t (*isBusy)(HostInstance *, int32_t code);

  /* Utilities */
  double (*milliseconds)(HostInstance *);
  int32_t (*formatReal)(HostInstance *, double value, int32_t decimals, char *buffer, int32_t size);

  /* Files and messages. chooseFolder returns -1 when the user cancelled; messageBox returns the
   * button the user pressed. */
  int32_t (*pluginFolder)(HostInstance *, char *buffer, int32_t size);
  int32_t (*chooseFolder)(HostInstance *, const char *title, char *buffer, int32_t size);
  int32_t (*joinPath)(HostInstance *, const char *folder, const char *name, char *buffer,
                      int32_t size);
  int32_t (*messageBox)(HostInstance *, const char *text, int32_t flags);
  void (*statusBarSetPercent)(HostInstance *, int32_t percent);
  void (*statusBarClear)(HostInstance *);

  /* The object's name as the user gave it (UTF-8), with the text convention of documentGetText. */
  int32_t (*objectGetName)(HostInstance *, HostObject *, char *buffer, int32_t size);
} HostApi;

#ifdef __cplusplus
}
#endif

/* Every includer compiles the layout checks, so a table reordered on one side fails to build. */
#include "host_api_layout.h"

#endif
