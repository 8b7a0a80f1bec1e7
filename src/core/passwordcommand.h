#pragma once

#include <QString>

namespace velmar {

// How long the settings' password commands may take: long enough for a keyring to answer.
constexpr int kPasswordCommandTimeoutMs = 10000;

// Runs a command line with /bin/sh -c and takes the first line it prints (without its line end)
// as the password or access token, so that none has to be kept in the settings. Fails when the
// command cannot start, ends with a failure, prints nothing, or has not finished within
// timeoutMs (it is then killed with everything it started); *error says which, never with what
// the command printed. Events are processed while it runs.
bool RunPasswordCommand(const QString& command, int timeoutMs, QString* secret, QString* error);

} // namespace velmar
