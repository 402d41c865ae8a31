#include "ProcessHardening.h"

#include <sys/prctl.h>

void hardenProcess() {
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}
