#pragma once

namespace tvx {

// One module as found by a search, handed over by value. Zero-filled before
// use, so every text field is zero-terminated.
struct DiscoveryRecord {
    char macText[20];
    char ipText[20];
    char modelName[20];
    char deviceName[20];
    char deviceMode[10];
    char passwordState[10];
};

// What the main window hands to the upgrade and reboot workers.
struct DeviceRequest {
    char ipText[20];
    char macText[20];
    char password[20];
    char firmwarePath[256];
};

} // namespace tvx
