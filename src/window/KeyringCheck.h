#pragma once

#include <QString>

#include <optional>

// Why the device keys cannot be kept on this desktop, in words for the user; nothing when they can.
// The program never keeps keys anywhere but the keyring, so without one it cannot run. Blocks while the
// desktop asks for the keyring password: call it off the UI thread.
std::optional<QString> keyringProblem();
