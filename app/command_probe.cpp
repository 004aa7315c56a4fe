#include <cstdio>

#include "app/commands.h"

int commandProbe(const Arguments&)
{
    std::fputs("Tarvo32: probe is not built yet\n", stderr);
    return 1;
}
