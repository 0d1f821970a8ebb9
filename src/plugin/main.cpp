// The plugin's two ways in: the script extender first asks (Query) and then loads (Load).

#include <string>

#include "common/guard.h"
#include "common/log.h"
#include "common/runtime_paths.h"
#include "config/settings.h"
#include "game/hooks.h"
#include "game/locations.h"
#include "game/signatures.h"
#include "input/handlers.h"
#include "objects/handoff.h"
#include "os/os.h"
#include "plugin/f4se.h"
#include "plugin/settings_cycle.h"
#include "rules/console.h"
#include "rules/switches.h"

#if defined(_WIN32)
#define FREEPLOT_EXPORT __declspec(dllexport)
#else
#define FREEPLOT_EXPORT __attribute__((visibility("default")))
#endif

namespace freeplot {
namespace {

constexpr const char* kSettingsFile = "Data\\F4SE\\Plugins\\freeplot.ini";

bool query(const F4SEInterface* f4se, PluginInfo* info) {
    logOpen();
    logLine("freeplot_plugin");

    info->infoVersion = kPluginInfoVersion;
    info->name = kPluginName;
    info->version = kPluginVersion;

    if (f4se->isEditor) {
        logLine("loaded in editor, marking as incompatible");
        return false;
    }
    if (f4se->runtimeVersion != kSupportedRuntime) {
        logLine("unsupported runtime version %08X, compiled for f4se %s (%08X)",
                f4se->runtimeVersion, kF4seVersionText, kF4seVersion);
        return false;
    }

    // Nothing of the game is read before it is known to lie inside the module.
    if (!locationsFitModule(os::mainModuleSize())) return false;
    resolveLocations();
    verifySignatures();
    verifyKnownCode();
    return true;
}

void load() {
    logLine("Compiled for f4se %s", kF4seVersionText);

    const std::string path = appDirectory() + kSettingsFile;
    logLine("Config path: %s", path.c_str());

    // A missing file leaves every setting at its default; the hooks go in either way. What was
    // made of the file is written beside the log for the player.
    takeSettingsAtLoad(path);
    startSwitchStates(settings);
    prepareKeyLookup();
    setStayStart(&takeSettingsAtStayStart);

    if (setHooks({&onKeyboardInput, &onMouseInput, &scaleCallHandler})) {
        // togglable: 0 freeplot mode on, no command; 1 on, with the console command; 2 off,
        // with the command (the only way to switch it on then); anything else off, no command.
        const std::uint8_t togglable = settings.togglable;
        if (togglable == 1 || togglable == 2) takeOverCommand();
        if (togglable == 0 || togglable == 1) setSwitch(Switch::freeplotMode, true, false);
    }
    // The start-up patches write game data too, which has no signature of its own.
    if (gameRecognised())
        applyStartupPatches();
    else
        logLine("None of the game's code is where this plugin knows it: no start-up patch applied");
    reportSettingsAtLoad();
}

}  // namespace
}  // namespace freeplot

extern "C" {

// A plugin stopped by an assertion declines to load and touches nothing; Load always reports
// success, leaving whatever was set up before a stop as it is.
FREEPLOT_EXPORT bool F4SEPlugin_Query(const freeplot::F4SEInterface* f4se,
                                      freeplot::PluginInfo* info) {
    return freeplot::guarded("F4SEPlugin_Query", false,
                             [&] { return freeplot::query(f4se, info); });
}

FREEPLOT_EXPORT bool F4SEPlugin_Load(const freeplot::F4SEInterface* /*f4se*/) {
    freeplot::guardedRun("F4SEPlugin_Load", [] { freeplot::load(); });
    return true;
}

}  // extern "C"
