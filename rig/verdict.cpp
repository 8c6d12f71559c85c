#include "rig/verdict.h"

#include <cstdarg>
#include <cstdio>

namespace rig {

namespace {
void line(const char* head, const char* fmt, va_list ap)
{
    printf("  %-5s", head);
    vprintf(fmt, ap);
    printf("\n");
    fflush(stdout);
}
} // namespace

bool Verdict::check(bool ok, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    line(ok ? word : "FAIL", fmt, ap);
    va_end(ap);
    (ok ? passed : failed)++;
    return ok;
}

void Verdict::notApplicable(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    line("n/a", fmt, ap);
    va_end(ap);
}

} // namespace rig
