// Reading [messages]: each name the section holds, as written, in ascending byte order.

#include <string>

#include "config/reading.h"

namespace freeplot {
namespace {

// The values a format text is tried with before it is taken.
constexpr double kTestReal = 1.5;
int testInteger(Msg msg) {
    return msg == Msg::axisChange ? 'X' : msg == Msg::scaleChange ? 95 : 150;
}

}  // namespace

void readMessages(Reading& reading) {
    const auto [first, last] = reading.ini.spellingsOf(kMessagesSection);
    for (const IniSpelling* spelling = first; spelling != last; ++spelling) {
        const std::string& name = spelling->name;
        const IniEntry& entry = reading.ini.entries[static_cast<std::size_t>(spelling->entry)];
        std::size_t index = kMessageKeyCount;
        // Cheap for the many names a file may hold: most differ in length or first letter.
        for (std::size_t i = 0; i < kMessageKeyCount && index == kMessageKeyCount; ++i)
            if (name[0] == kMessages[i].key[0] && name == kMessages[i].key) index = i;
        // A name that is no message's (names are case-sensitive) means nothing to the plugin.
        if (index == kMessageKeyCount) continue;
        const std::string& text = entry.value;
        const auto msg = static_cast<Msg>(index);
        const MessageInfo& info = kMessages[index];
        if (info.arg != FormatArg::none) {
            // The text goes to the formatter only once it is known to fit its value.
            const char* problem = formatProblem(text.c_str(), info.arg);
            int length = -1;
            if (!problem) {
                char trial[kMessageBufferSize];
                length = formatChecked(trial, text.c_str(), info.arg, kTestReal, testInteger(msg));
            }
            if (length < 1 || length > static_cast<int>(kMessageBufferSize) - 1) {
                reading.log(
                    "Message for %s is too large or missing format placeholder, default message "
                    "will be used",
                    info.key);
                const std::string why = problem       ? std::string("it holds ") + problem
                                        : length == 0 ? std::string("it is empty")
                                        : length < 0  ? std::string("it does not format")
                                                      : "it formats to " + std::to_string(length) +
                                                           " characters, more than 1023";
                reading.note(NoteKind::refused, kMessagesSection, name, why + "; the default text stays",
                             &entry);
                continue;
            }
        }
        reading.inForce.texts[index] = text;
        reading.note(NoteKind::accepted, kMessagesSection, name, "\"" + text + "\"", &entry);
    }
}

}  // namespace freeplot
