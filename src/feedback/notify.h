#pragma once
// The plugin's on-screen messages. Most are shown at once (showNow); the scale keys come in
// bursts, so their messages wait on the notifier and only the last value of a burst reaches the
// screen.

#include <chrono>

#include "config/messages.h"
#include "game/gamefunctions.h"

namespace freeplot {

// Shows a message at once, on the thread that asks.
inline void showNow(Msg message) { showHudMessage(messageText(message)); }
inline void showNow(const FormattedText& text) { showHudMessage(text.c_str()); }

inline constexpr std::chrono::milliseconds kQuietPeriod{500};

// Hands a text to the notifier: shown when 500 ms pass without a further hand-over; each
// hand-over restarts the period and replaces the text. The text is copied, so the caller's
// buffer may be reused at once. One notifier thread runs at a time.
void showAfterQuiet(const FormattedText& text);

// Takes back the text handed over last when it has not reached the screen yet: the notifier then
// ends its quiet period without showing anything. For a scale written by other means than a
// scale key (undo, redo, a stored scale), after which "Scale set to" would name a scale that is
// no longer the last one given.
void withdrawQuiet();

// Whether a notifier thread is waiting or showing (for tests and benchmarks).
bool notifierRunning();

}  // namespace freeplot
