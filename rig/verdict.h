#ifndef RIG_VERDICT_H
#define RIG_VERDICT_H

// The PASS/FAIL lines of an exercising program: one a figure, each flushed
// at once, counted for the program's last word.

namespace rig {

class Verdict
{
public:
    // passWord: what a held bound is called ("PASS", or "ok" within a scenario).
    explicit Verdict(const char* passWord = "PASS") : word(passWord) {}

    // Prints "  PASS " or "  FAIL " (the word padded to five) and the text;
    // returns ok.
    bool check(bool ok, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    // A figure that could not be taken: "  n/a  " and the text, not counted.
    void notApplicable(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    int passed = 0;
    int failed = 0;
    bool allPassed() const { return failed == 0; }

private:
    const char* word;
};

} // namespace rig

#endif
