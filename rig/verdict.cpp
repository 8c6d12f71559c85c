#include "rig/verdict.h"

#include <cstdio>

namespace rig {

void Verdict::line(bool have, bool ok, const char* fmt, va_list ap)
{
    printf("  %-5s", !have ? "n/a" : ok ? word : "FAIL");
    vprintf(fmt, ap);
    printf("\n");
    fflush(stdout);
    if (have)
        (ok ? passed : failed)++;
}

bool Verdict::check(bool ok, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    line(true, ok, fmt, ap);
    va_end(ap);
    return ok;
}

bool Verdict::checkIf(bool have, bool ok, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    line(have, ok, fmt, ap);
    va_end(ap);
    return ok;
}

} // namespace rig
