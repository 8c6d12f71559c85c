#include "rig/verdict.h"

#include <cstdarg>
#include <cstdio>

namespace rig {

bool Verdict::check(bool ok, const char* fmt, ...)
{
    printf("  %-5s", ok ? word : "FAIL");
    va_list ap;
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
    printf("\n");
    fflush(stdout);
    (ok ? passed : failed)++;
    return ok;
}

void Verdict::notApplicable(const char* fmt, ...)
{
    printf("  n/a  ");
    va_list ap;
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
    printf("\n");
    fflush(stdout);
}

} // namespace rig
