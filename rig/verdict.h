#ifndef RIG_VERDICT_H
#define RIG_VERDICT_H

// The PASS/FAIL lines of an exercising program: one a figure, each flushed
// at once, counted for the program's last word.

#include <cstdarg>
#include <cstdio>

namespace rig {

class Verdict
{
public:
    // passWord: what a held bound is called ("PASS", or "ok" within a scenario).
    explicit Verdict(const char* passWord = "PASS") : word(passWord) {}

    // Prints "  PASS " or "  FAIL " (the word padded to five) and the text;
    // returns ok.
    bool check(bool ok, const char* fmt, ...) __attribute__((format(printf, 3, 4)))
    {
        va_list ap;
        va_start(ap, fmt);
        line(true, ok, fmt, ap);
        va_end(ap);
        return ok;
    }
    // The same where the figure could be taken (have); else "  n/a  " and
    // the text, not counted.
    bool checkIf(bool have, bool ok, const char* fmt, ...) __attribute__((format(printf, 4, 5)))
    {
        va_list ap;
        va_start(ap, fmt);
        line(have, ok, fmt, ap);
        va_end(ap);
        return ok;
    }

    int passed = 0;
    int failed = 0;
    bool allPassed() const { return failed == 0; }

private:
    void line(bool have, bool ok, const char* fmt, va_list ap)
    {
        printf("  %-5s", !have ? "n/a" : ok ? word : "FAIL");
        vprintf(fmt, ap);
        printf("\n");
        fflush(stdout);
        if (have)
            (ok ? passed : failed)++;
    }
    const char* word;
};

} // namespace rig

#endif
