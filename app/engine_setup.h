// The launcher's own use of the download engine: the engine runs inside the launcher's
// process, set up from the engine's keys of quillgate.cfg, and needs no outside engine
// service (no "IPCPort" value).
#pragma once

#include "download/tarn/engine_in_process.h"
#include "update/launcher_config.h"

// The process settings that the keys ask for (`config.enabled` aside).
EngineProcessSettings EngineSettingsOf(const EngineConfig& config);

// With "engine" on, sets the process's engine up from the keys, before the workers make
// their downloaders; false when it is off or the program does not carry the engine (the
// workers then fetch everything over HTTP).
bool SetUpEngine(const EngineConfig& config);
