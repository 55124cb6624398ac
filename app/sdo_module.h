// The binary interface of the outside SDO login module "./SDO/sdologinentry.dll": its
// three C entry points, the application record, the interface identifier and the table
// of operations of the login interface. The module is built by others against exactly
// this layout, so nothing here may be reordered.
#pragma once

#include <cstdint>

extern "C" {

// The application record given to SDOLInitialize: six fields in this order.
struct SDOLAppInfo {
    uint32_t size;            // sizeof(SDOLAppInfo)
    uint32_t applicationId;   // 200071400
    const char16_t* name;     // the game's name, UTF-16, NUL-terminated
    const char16_t* version;  // "0.1.2.0"
    uint32_t reserved1;       // 1
    uint32_t reserved2;       // 1
};

struct SDOLGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

// {AD887932-2D1C-48EC-B3E0-535B609C12D6}: the login interface.
inline constexpr SDOLGuid kSdoLoginModuleId = {
    0xAD887932, 0x2D1C, 0x48EC, {0xB3, 0xE0, 0x53, 0x5B, 0x60, 0x9C, 0x12, 0xD6}};

// Codes of the login callback.
inline constexpr int32_t kSdoLoginDone = 0;       // info: the array of wide strings
inline constexpr int32_t kSdoLoginClosed = -101;  // the user closed the login window
// Entries of the string array of a login that the launcher passes on to the game.
inline constexpr int kSdoInfoSessionId = 1;
inline constexpr int kSdoInfoSndAid = 2;
inline constexpr int kSdoInfoAdditional = 4;
inline constexpr int kSdoInfoCount = 5;  // the array holds at least this many entries

// Called by the module on a thread of its own. `info` is an array of at least
// kSdoInfoCount UTF-16 strings for kSdoLoginDone; the result tells the module whether the
// login was taken (1) or not (0).
typedef int32_t (*SDOLLoginCallback)(int32_t code, const char16_t* const* info, intptr_t p3,
                                     intptr_t p4);

struct SDOLLoginModule;

// The interface's table of operations: the slot index is the position. Slots 0 and 1
// belong to the object model of the module and are not called by the launcher.
struct SDOLLoginModuleTable {
    void* slot0;
    void* slot1;
    uint32_t (*release)(SDOLLoginModule* self);                        // slot 2
    int32_t (*attachWindow)(SDOLLoginModule* self, uintptr_t window);  // slot 3
    int32_t (*showLogin)(SDOLLoginModule* self, SDOLLoginCallback callback, intptr_t p2,
                         intptr_t p3);            // slot 4
    int32_t (*hideLogin)(SDOLLoginModule* self);  // slot 5
};

struct SDOLLoginModule {
    const SDOLLoginModuleTable* table;
};

// The entry points the module exports. Zero means success for the first two.
int32_t SDOLInitialize(const SDOLAppInfo* application);
int32_t SDOLGetModule(const SDOLGuid* interfaceId, SDOLLoginModule** module);
int32_t SDOLTerminal(void);

typedef int32_t (*SDOLInitializeEntry)(const SDOLAppInfo* application);
typedef int32_t (*SDOLGetModuleEntry)(const SDOLGuid* interfaceId, SDOLLoginModule** module);
typedef int32_t (*SDOLTerminalEntry)(void);

}  // extern "C"
