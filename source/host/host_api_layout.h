/* The layout of HostApi, locked at compile time. Modules and hosts built at different times share
 * one table through raw memory, so a member may only ever be added at the end: moving, removing or
 * resizing one breaks every module built before. Each operation is pinned to its slot, counted in
 * pointers after `instance`, and the size to the last slot, so a reordering fails to build in
 * every program that includes host_api.h (the plug-in and the stand-in host alike). A new
 * operation goes at the end of HostApi and gets the next slot here. */
#ifndef FLARION_HOST_API_LAYOUT_H
#define FLARION_HOST_API_LAYOUT_H

#include <stddef.h>

#include "host_api.h"

#ifdef __cplusplus
#define HOST_API_LAYOUT_ASSERT(condition, text) static_assert(condition, text)
#else
#define HOST_API_LAYOUT_ASSERT(condition, text) _Static_assert(condition, text)
#endif

/* The header: size, version and API level as 32-bit words, then the instance pointer aligned. */
HOST_API_LAYOUT_ASSERT(offsetof(HostApi, size) == 0, "HostApi.size moved");
HOST_API_LAYOUT_ASSERT(offsetof(HostApi, version) == 4, "HostApi.version moved");
HOST_API_LAYOUT_ASSERT(offsetof(HostApi, apiLevel) == 8, "HostApi.apiLevel moved");
HOST_API_LAYOUT_ASSERT(offsetof(HostApi, instance) == (sizeof(void *) == 8 ? 16 : 12),
                       "HostApi.instance moved");

#define HOST_API_SLOT(member, slot)                                                                \
  HOST_API_LAYOUT_ASSERT(offsetof(HostApi, member) ==                                              \
                             offsetof(HostApi, instance) + (slot) * sizeof(void *),                \
                         "HostApi." #member " is not in slot " #slot ": operations are only "      \
                         "ever appended")

HOST_API_SLOT(registerCommand, 1);
HOST_API_SLOT(currentLanguage, 2);
HOST_API_SLOT(languageAt, 3);
HOST_API_SLOT(dialogCreate, 4);
HOST_API_SLOT(dialogFree, 5);
HOST_API_SLOT(dialogOpen, 6);
HOST_API_SLOT(dialogRestore, 7);
HOST_API_SLOT(dialogSetTitle, 8);
HOST_API_SLOT(dialogSetTimer, 9);
HOST_API_SLOT(groupBegin, 10);
HOST_API_SLOT(groupEnd, 11);
HOST_API_SLOT(groupBorderSpace, 12);
HOST_API_SLOT(groupSpace, 13);
HOST_API_SLOT(addStaticText, 14);
HOST_API_SLOT(addCheckbox, 15);
HOST_API_SLOT(addEditSlider, 16);
HOST_API_SLOT(addEditNumber, 17);
HOST_API_SLOT(addButton, 18);
HOST_API_SLOT(addComboBox, 19);
HOST_API_SLOT(addComboEntry, 20);
HOST_API_SLOT(addCustomGui, 21);
HOST_API_SLOT(addUserArea, 22);
HOST_API_SLOT(attachUserArea, 23);
HOST_API_SLOT(setBool, 24);
HOST_API_SLOT(getBool, 25);
HOST_API_SLOT(setInt, 26);
HOST_API_SLOT(getInt, 27);
HOST_API_SLOT(setReal, 28);
HOST_API_SLOT(getReal, 29);
HOST_API_SLOT(setText, 30);
HOST_API_SLOT(enable, 31);
HOST_API_SLOT(sendMessage, 32);
HOST_API_SLOT(userAreaWidth, 33);
HOST_API_SLOT(userAreaHeight, 34);
HOST_API_SLOT(userAreaRedraw, 35);
HOST_API_SLOT(userAreaFill, 36);
HOST_API_SLOT(userAreaDrawBitmap, 37);
HOST_API_SLOT(bitmapCreate, 38);
HOST_API_SLOT(bitmapFree, 39);
HOST_API_SLOT(bitmapInit, 40);
HOST_API_SLOT(bitmapWidth, 41);
HOST_API_SLOT(bitmapHeight, 42);
HOST_API_SLOT(bitmapSetRow, 43);
HOST_API_SLOT(activeDocument, 44);
HOST_API_SLOT(documentActiveView, 45);
HOST_API_SLOT(viewSceneCamera, 46);
HOST_API_SLOT(documentRenderData, 47);
HOST_API_SLOT(renderDataGetParameter, 48);
HOST_API_SLOT(documentFps, 49);
HOST_API_SLOT(documentGetTime, 50);
HOST_API_SLOT(documentSetTime, 51);
HOST_API_SLOT(documentGetParameter, 52);
HOST_API_SLOT(documentGetText, 53);
HOST_API_SLOT(documentFirstObject, 54);
HOST_API_SLOT(documentFindSceneHook, 55);
HOST_API_SLOT(documentDirty, 56);
HOST_API_SLOT(documentClone, 57);
HOST_API_SLOT(documentFree, 58);
HOST_API_SLOT(documentExecutePasses, 59);
HOST_API_SLOT(objectType, 60);
HOST_API_SLOT(objectNext, 61);
HOST_API_SLOT(objectDown, 62);
HOST_API_SLOT(objectGetMatrix, 63);
HOST_API_SLOT(objectSetMatrix, 64);
HOST_API_SLOT(objectGetParameter, 65);
HOST_API_SLOT(objectGetMode, 66);
HOST_API_SLOT(objectClone, 67);
HOST_API_SLOT(objectFree, 68);
HOST_API_SLOT(cameraFocalLength, 69);
HOST_API_SLOT(cameraApertureWidth, 70);
HOST_API_SLOT(objectGetDataReal, 71);
HOST_API_SLOT(particleLibraryLoad, 72);
HOST_API_SLOT(particleCount, 73);
HOST_API_SLOT(particleAlive, 74);
HOST_API_SLOT(particlePosition, 75);
HOST_API_SLOT(particleVelocity, 76);
HOST_API_SLOT(particleColor, 77);
HOST_API_SLOT(isMainThread, 78);
HOST_API_SLOT(isBusy, 79);
HOST_API_SLOT(milliseconds, 80);
HOST_API_SLOT(formatReal, 81);
HOST_API_SLOT(pluginFolder, 82);
HOST_API_SLOT(chooseFolder, 83);
HOST_API_SLOT(joinPath, 84);
HOST_API_SLOT(messageBox, 85);
HOST_API_SLOT(statusBarSetPercent, 86);
HOST_API_SLOT(statusBarClear, 87);
HOST_API_SLOT(objectGetName, 88);

/* Nothing follows the last slot: an operation added without its slot above fails here. */
HOST_API_LAYOUT_ASSERT(sizeof(HostApi) == offsetof(HostApi, instance) + 89 * sizeof(void *),
                       "HostApi grew: give the new operation its slot");

#undef HOST_API_SLOT
#undef HOST_API_LAYOUT_ASSERT

#endif
