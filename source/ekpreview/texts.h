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

constexpr Text kOutOfMemory{"out of memory", "zu wenig Arbeitsspeicher"};
constexpr Text kParticleNotRead{"the host could not give particle @ of @",
                                "der Host konnte Partikel @ von @ nicht liefern"};
constexpr Text kFileNotWritten{"could not write file: ", "Datei konnte nicht geschrieben werden: "};

// A light the renderer cannot take: its name and what of it is out of range.
constexpr Text kLightOutOfRange{"light \"@\": @ is out of range",
                                "Licht \"@\": @ außerhalb des darstellbaren Bereichs"};
constexpr Text kLightColour{"colour x intensity", "Farbe x Intensität"};
constexpr Text kLightPosition{"position", "Position"};
constexpr Text kLightDirection{"direction", "Richtung"};
constexpr Text kLightConeAngle{"cone angle", "Kegelwinkel"};
constexpr Text kLightFalloff{"falloff radius", "Abfallradius"};

constexpr Text kPreviewTooLarge{"preview of @x@ needs @ GB, only @ GB of memory available",
                                "Vorschau von @x@ braucht @ GB, nur @ GB Speicher verfügbar"};

// Statistics line of the preview.
constexpr Text kStatistics{
    "Particles: @ | Samples: @ M | Read @ ms | Upload @ ms | Render @ ms (GPU @ ms)",
    "Partikel: @ | Samples: @ Mio. | Auslesen @ ms | Upload @ ms | Render @ ms (GPU @ ms)"};
constexpr Text kMeanSpeed{" | TP mean speed (raw): @", " | TP-Geschw. Mittel (roh): @"};
constexpr Text kLights{" | Lights: @", " | Lichter: @"};
constexpr Text kLightsOfMaximum{" (of @, max. @)", " (von @, max. @)"};
constexpr Text kLightsApproximated{" | @ area/special light(s) approximated as point light",
                                   " | @ Flächen-/Sonderlicht(er) als Punktlicht genähert"};
constexpr Text kNoLights{" - no C4D lights found, only ambient/emission",
                         " - keine C4D-Lichter gefunden, nur Umgebung/Eigenleuchten"};
// Ends every statistics line while the renderer runs on the CPU, so the fallback stays visible.
constexpr Text kCpuMark{" | CPU", " | CPU"};

// Projection of a spherical camera, appended to the statistics line.
constexpr Text kSpherical{" | Spherical", " | Sphärisch"};
constexpr Text kStereoToeIn{" stereo (toe-in", " Stereo (Toe-In"};
constexpr Text kStereoParallel{" stereo (parallel", " Stereo (parallel"};
constexpr Text kLayoutSideBySide{", side by side)", ", nebeneinander)"};
constexpr Text kLayoutLeftOnly{", left only)", ", nur links)"};
constexpr Text kLayoutRightOnly{", right only)", ", nur rechts)"};
constexpr Text kLayoutAboveUnder{", above/under)", ", oben/unten)"};
constexpr Text kMono{" mono", " mono"};
constexpr Text kCubicNotSupported{
    " - cubic mapping not supported, using lat-long",
    " - Würfel-Abbildung nicht unterstützt, Laengen-/Breitengrad wird verwendet"};

// Export.
constexpr Text kCancelling{"Cancelling ...", "Abbruch ..."};
constexpr Text kChooseExportFolder{"Choose export folder", "Exportordner wählen"};
constexpr Text kInvalidResolution{"invalid resolution in the render settings",
                                  "ungültige Auflösung in den Rendervoreinstellungen"};
constexpr Text kFrameSaved{"Frame @ saved (@x@): @", "Bild @ gespeichert (@x@): @"};
constexpr Text kNoFrameRate{"the document has no frame rate (0 fps): a sequence needs one",
                            "das Dokument hat keine Bildrate (0 fps): eine Sequenz braucht eine"};
constexpr Text kSceneNotCopied{"Could not copy the scene", "Szene konnte nicht kopiert werden"};
constexpr Text kCameraNotInCopy{"Camera not found in the scene copy",
                                "Kamera in der Szenenkopie nicht gefunden"};
constexpr Text kExportStarting{"Export starting ...", "Export startet ..."};
constexpr Text kImageProgress{"Image @ of @ (frame @) | @ % | elapsed @ | approx. @ remaining",
                              "Bild @ von @ (Frame @) | @ % | vergangen @ | Rest ca. @"};
constexpr Text kPreRollProgress{"Pre-roll (simulation): frame @ of @ | elapsed @",
                                "Vorlauf (Simulation): Bild @ von @ | vergangen @"};
constexpr Text kExportEnded{"Export @: @ of @ image(s) in @", "Export @: @ von @ Bild(ern) in @"};
constexpr Text kSummaryTitle{"Flarion Export @", "Flarion Export @"};
constexpr Text kSummaryRange{"Frame range: @ to @ (step @)", "Bildbereich: @ bis @ (Schritt @)"};
constexpr Text kSummaryWritten{"Written: @ of @ image(s), @x@",
                               "Geschrieben: @ von @ Bild(ern), @x@"};
constexpr Text kSummaryDuration{"Duration: @", "Dauer: @"};
constexpr Text kSummaryFolder{"Folder: @", "Ordner: @"};
constexpr Text kSummaryLastMessage{"Last message: ", "Letzte Meldung: "};

// How a sequence export ended.
constexpr Text kEndFinished{"finished", "fertig"};
constexpr Text kEndIncomplete{"incomplete", "unvollständig"};
constexpr Text kEndCancelled{"cancelled", "abgebrochen"};
constexpr Text kEndFailed{"stopped with an error", "mit Fehler beendet"};
constexpr Text kEndWindowClosed{"cancelled (window closed)", "abgebrochen (Fenster geschlossen)"};

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
