// Reading the [messages] section.

#include <string>

#include "common/log.h"
#include "config/ini_file.h"
#include "config/messages.h"
#include "config/report.h"

namespace freeplot {
namespace {

// The test values the acceptance test formats with.
constexpr double kTestReal = 1.5;
int testInteger(Msg msg) {
    return msg == Msg::axisChange ? 'X' : msg == Msg::scaleChange ? 95 : 150;
}

}  // namespace

void readMessages(const IniFile& file, SettingsReport* report) {
    for (const std::string& name : file.names("messages")) {
        const std::string text = file.reader.Get("messages", name, "Empty message");
        std::size_t index = kMessageKeyCount;
        for (std::size_t i = 0; i < kMessageKeyCount; ++i) {
            if (name == kMessages[i].key) {
                index = i;
                break;
            }
        }
        if (index == kMessageKeyCount) {
            note(report, NoteKind::ignored, "messages", name,
                 name == "stateStored" ? "this text cannot be changed from the file"
                                       : "no message has this name (names are case-sensitive)");
            continue;
        }
        const auto msg = static_cast<Msg>(index);
        const MessageInfo& info = kMessages[index];
        if (info.arg != FormatArg::none) {
            // The text goes to the formatter only once it is known to fit its value.
            const char* problem = formatProblem(text.c_str(), info.arg);
            int length = -1;
            if (!problem) {
                length = formatChecked(messageTrial.buffer, text.c_str(), info.arg, kTestReal,
                                       testInteger(msg));
            }
            if (length < 1 || length > static_cast<int>(kMessageBufferSize) - 1) {
                logLine(
                    "Message for %s is too large or missing format placeholder, default message "
                    "will be used",
                    info.key);
                if (report) {
                    std::string why = problem       ? std::string("it holds ") + problem
                                      : length == 0 ? std::string("it is empty")
                                      : length < 0  ? std::string("it does not format")
                                                    : "it formats to " + std::to_string(length) +
                                                         " characters, more than 1023";
                    note(report, NoteKind::refused, "messages", name,
                         why + "; the default text stays");
                }
                continue;
            }
        }
        setMessageText(msg, text);
        note(report, NoteKind::accepted, "messages", name,
             file.reader.HasValue("messages", name) ? "\"" + text + "\""
                                                    : "no stored value: \"Empty message\"");
    }
}

}  // namespace freeplot
