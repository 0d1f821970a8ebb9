#include "config/settings.h"

#include "config/messages.h"
#include "config/steps.h"

namespace freeplot {

Settings settings;
std::array<KeyBinding, kActionCount> keyBindings = kDefaultKeyBindings;

KeyBinding bindingForCode(std::uint16_t code) {
    switch (code) {
        case 16:
            return {160, 161};  // Shift: left, right
        case 17:
            return {162, 163};  // Ctrl
        case 18:
            return {164, 165};  // Alt
        default:
            return {code, 0};
    }
}

void restoreDefaultSettings() {
    settings = Settings{};
    keyBindings = kDefaultKeyBindings;
    restoreDefaultMessages();
    restoreDefaultSteps();
}

}  // namespace freeplot
