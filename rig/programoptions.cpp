#include "rig/programoptions.h"

namespace rig {

int ProgramOptions::parse(const QStringList& args) const
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

} // namespace rig
