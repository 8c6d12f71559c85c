#ifndef RIG_VERDICT_H
#define RIG_VERDICT_H

// The PASS/FAIL lines of an exercising program: one a figure, each flushed
// at once, counted for the program's last word.

#include <cstdarg>

namespace rig {

class Verdict
{
public:
    // passWord: what a held bound is called ("PASS", or "ok" within a scenario).
    explicit Verdict(const char* passWord = "PASS") : word(passWord) {}

    // Prints "  PASS " or "  FAIL " (the word padded to five) and the text;
    // returns ok.
    bool check(bool ok, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    // The same where the figure could be taken (have); else "  n/a  " and
    // the text, not counted.
    bool checkIf(bool have, bool ok, const char* fmt, ...) __attribute__((format(printf, 4, 5)));

    int passed = 0;
    int failed = 0;
    bool allPassed() const { return failed == 0; }

private:
    void line(bool have, bool ok, const char* fmt, va_list ap);
    const char* word;
};

} // namespace rig

#endif
