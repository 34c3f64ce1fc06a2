#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "app/capture/sources/capture_target.h"
#include "app/capture/sources/source_catalog.h"

namespace tolvane::CaptureSources {

// Lists what can be recorded and names it for the picker. Stateless: every call asks
// the catalog again.

struct Content {
  std::vector<CaptureTarget> displays;
  std::vector<CaptureTarget> windows;
};

// Displays in the catalog's order, named by displayName(); windows of other processes
// that are on screen and larger than 120 × 120, ordered by application name (windows
// of one application keep the catalog's order). Throws what the catalog throws.
Content shareableContent(SourceCatalog& catalog, pid_t ownProcessID);
Content shareableContent(SourceCatalog& catalog);  // this process's windows left out
Content shareableContent();                        // the machine's own sources

std::vector<AudioDeviceOption> microphones(SourceCatalog& catalog);
std::vector<AudioDeviceOption> microphones();
std::vector<CameraOption> cameras(SourceCatalog& catalog);
std::vector<CameraOption> cameras();

// The monitor's own name when it has one; else "Main display" for the first display
// and "Display N" (N = index + 1) for the others.
std::string displayName(const std::vector<DisplayInfo>& screens, std::uint32_t displayID, std::size_t index);

// Two identical monitors report the same name; the picker must tell them apart, so each
// name that occurs more than once gets its place among its namesakes, in display order:
// "DELL U2720Q (1)", "DELL U2720Q (2)". Unique names are kept as they are.
std::vector<std::string> distinctNames(std::vector<std::string> names);

}  // namespace tolvane::CaptureSources
