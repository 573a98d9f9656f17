// Messages of the plug-in in English and German. Patterns with printf conversions are filled by
// the code that shows them; "@" marks values inserted with host::substitute.
#pragma once

#include "ekpreview/language.h"

namespace ek::plugin::text {

constexpr Text kCommandName{"Flarion", "Flarion"};
constexpr Text kCommandHelp{"Live GPU preview and EXR/PNG export for Thinking Particles",
                            "Live-GPU-Vorschau und EXR/PNG-Export für Thinking Particles"};

// Status line.
constexpr Text kErrorPrefix{"ERROR: ", "FEHLER: "};
constexpr Text kReady{"Ready", "Bereit"};
constexpr Text kNoCamera{"No camera found", "Keine Kamera gefunden"};
constexpr Text kRenderingOnCpu{"No usable CUDA device, rendering on the CPU",
                               "Kein nutzbares CUDA-Gerät, Rendern auf der CPU"};

// Export progress.
constexpr Text kCancelling{"Cancelling ...", "Abbruch ..."};

// Binding the renderer library.
constexpr Text kPathNotConverted{"Path could not be converted: %s",
                                 "Pfad konnte nicht umgewandelt werden: %s"};
constexpr Text kLibraryNotLoaded{"DLL could not be loaded (Windows error %lu): %s",
                                 "DLL nicht ladbar (Windows-Fehler %lu): %s"};
constexpr Text kFunctionsMissing{"DLL found, but functions are missing (wrong version?): %s",
                                 "DLL gefunden, aber Funktionen fehlen (falsche Version?): %s"};
constexpr Text kWrongApiVersion{
    "DLL has API version %d, plugin expects %d. Rebuild the renderer (build.bat): %s",
    "DLL hat API-Version %d, Plugin erwartet %d. Renderer neu bauen (build.bat): %s"};
constexpr Text kContextNotCreated{"Could not create GPU context",
                                  "GPU-Kontext konnte nicht erzeugt werden"};

} // namespace ek::plugin::text
