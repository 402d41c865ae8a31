#pragma once

// Appends everything the process writes to standard error from now on to "app.log" in the user's
// documents directory. Without a documents directory standard error stays where it is.
void redirectStderrToLogFile();
