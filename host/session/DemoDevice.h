// The embedded demo device: a per-user folder (%LOCALAPPDATA%\Dorvex\DemoDevice) that the component
// fills with the demo tree the first time it is used.
#pragma once

#include <string>

// The demo device's folder, seeded if it does not exist yet; CDeviceError when it cannot be made.
std::wstring DemoDeviceFolder();
