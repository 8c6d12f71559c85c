#ifndef RIG_PROGRAMOPTIONS_H
#define RIG_PROGRAMOPTIONS_H

// The command line of an exercising program: flags, options that take the
// next argument, words of its own. -h or --help prints the usage to stdout;
// anything it does not take is named on stderr before the usage.

#include <QStringList>
#include <cstdio>
#include <functional>
#include <map>
#include <type_traits>

namespace rig {

class ProgramOptions
{
public:
    using Take = std::function<bool(const QString&)>; // false when the word will not do

    ProgramOptions(const char* program, std::function<void(FILE*)> usage) : program(program), usage(usage) {}

    void flag(const QString& name, bool* to) { flags[name] = to; }
    // Takes the next argument, whatever it looks like.
    void option(const QString& name, Take take) { valued[name] = std::move(take); }
    // A number that fits (any, by default), into *to.
    template <typename T, typename Fits = bool (*)(T)>
    void number(const QString& name, T* to, Fits fits = [](T) { return true; })
    {
        option(name, [to, fits](const QString& v) { return read(v, to) && fits(*to); });
    }
    // Any other word; required: at least one, or the usage alone.
    void words(Take take, bool required)
    {
        word = std::move(take);
        wordRequired = required;
    }

    // -1 to go on; else the exit status: 0 after the help, 2 after the usage.
    int parse(const QStringList& args) const
    {
        bool words = false;
        for (int i = 0; i < args.size(); ++i) {
            const QString& a = args.at(i);
            if (a == "-h" || a == "--help") {
                usage(stdout);
                return 0;
            }
            const auto v = valued.find(a);
            bool ok = true;
            if (flags.count(a))
                *flags.at(a) = true;
            else if (v != valued.end())
                ok = i + 1 < args.size() && v->second(args.at(++i));
            else
                words = ok = word && word(a);
            if (!ok) {
                fprintf(stderr, "%s: bad argument '%s'\n", program, qPrintable(a));
                usage(stderr);
                return 2;
            }
        }
        if (wordRequired && !words) {
            usage(stderr);
            return 2;
        }
        return -1;
    }

private:
    template <typename T>
    static bool read(const QString& v, T* to)
    {
        bool ok = false;
        if constexpr (std::is_same_v<T, double>)
            *to = v.toDouble(&ok);
        else if constexpr (std::is_same_v<T, int>)
            *to = v.toInt(&ok);
        else if constexpr (std::is_same_v<T, qint64>)
            *to = v.toLongLong(&ok);
        else
            *to = v.toUInt(&ok);
        return ok;
    }

    const char* program;
    std::function<void(FILE*)> usage;
    std::map<QString, bool*> flags;
    std::map<QString, Take> valued;
    Take word;
    bool wordRequired = false;
};

} // namespace rig

#endif
