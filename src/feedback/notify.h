#pragma once
// On-screen messages. Most are shown at once, on the thread that made the change. The scale
// keys, typically pressed several times in a row, go through the notifier: a text is shown only
// once 500 ms have passed without a further one, so a burst of presses gives one message with
// the final value.

#include <chrono>

#include "config/messages.h"

namespace freeplot {

inline constexpr std::chrono::milliseconds kQuietPeriod{500};

// Shows a message at once.
void showNow(Msg message);
void showNow(const FormattedText& text);

// Hands a text to the notifier: shown when 500 ms pass without a further hand-over; each
// hand-over restarts the period and replaces the text. The text is copied, so the caller's
// buffer may be reused at once. One notifier thread runs at a time.
void showMessage(const FormattedText& text);

// Whether a notifier thread is waiting or showing (for tests and benchmarks).
bool notifierRunning();

}  // namespace freeplot
