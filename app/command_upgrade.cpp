#include <cstdio>

#include "app/commands.h"

int commandUpgrade(const Arguments&)
{
    std::fputs("Tarvo32: upgrade is not built yet\n", stderr);
    return 1;
}
