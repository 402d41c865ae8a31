#pragma once

// Keeps the process's memory to itself: no core file of it is written and other processes of the same user
// may not attach to it, so neither a crash nor a debugger hands over a PIN, its digest or a private key held
// in memory at that moment.
void hardenProcess();
