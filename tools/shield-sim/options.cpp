#include "options.h"

#include "simio.h"

#include <cstdio>

namespace {

const char kUsage[] =
    "Usage: shield-sim [options]\n"
    "\n"
    "Simulated shield for zma-driver: the serial line on a pseudo-terminal\n"
    "(ZQ_BOARD_SERIAL), the audio line on a Unix SEQPACKET socket (ZQ_BOARD_SPI).\n"
    "\n"
    "Options:\n"
    "  --link PATH        symlink PATH to the pty (an existing symlink is replaced)\n"
    "  --spi PATH         serve audio on the SEQPACKET socket PATH\n"
    "  --wav-in FILE      line audio from FILE (16 kHz 16-bit mono PCM WAV, looped)\n"
    "                     instead of the test tone\n"
    "  --tone HZ          test tone frequency, 0 for silence (default 440)\n"
    "  --amplitude N      test tone peak 0..32767 (default 8000)\n"
    "  --record FILE      write the audio the driver sends as a 16 kHz 16-bit mono WAV\n"
    "  --record-raw       keep the driver's idle blocks (bytes FF 7F) in the --record\n"
    "                     file as they came; without it they are written as\n"
    "                     silence and counted on standard error at the end\n"
    "  --version N        shield version 0..255 (default 2)\n"
    "  --revision N       shield revision 0..255 (default 5)\n"
    "  --firmware N       firmware number 0..65535 (default 529)\n"
    "  --beta N           firmware beta 0..255 (default 0)\n"
    "  --uid W0,W1,W2     the three 32-bit UID words in hex (default 1,ab,c0de)\n"
    "  --delay MS         answer delay (default 5)\n"
    "  --auto-ring N      ring apartment N every --every seconds while idle\n"
    "  --every S          auto-ring period in seconds (default 30)\n"
    "  --ring-timeout S   hang up a call nobody picked up after S seconds\n"
    "                     (0 never; default never, 20 with --auto-ring)\n"
    "  --stay             keep running at end of standard input\n"
    "  --die-with-parent  exit when the parent process exits\n"
    "  --verbose          print \"spi blocks N\" every 1000 audio blocks\n"
    "  --replay FILE      play the shield's side of a saved session (zma-log --save)\n"
    "                     and compare the driver's frames with the recorded ones;\n"
    "                     the clock starts at the driver's first frame; standard\n"
    "                     input is not read; exit 0 if they agree, 1 if not\n"
    "  --speed N          replay N times as fast (default 1; the driver's own\n"
    "                     timing, such as its repeats, does not scale)\n"
    "  --tolerance MS     how far a frame may be off its recorded time (default 250)\n"
    "  --help             this text\n"
    "Numbers are decimal, or hex with 0x.\n"
    "\n"
    "Standard input, one command a line:\n"
    "  ring N             dial apartment N (0..255): CMD_DIAL with data N 00 00 00,\n"
    "                     repeated every second until picked up or dropped\n"
    "  ring-gate P S      dial in gate mode: data S 00 P 00 (P, S 0..255)\n"
    "  hangup             send CMD_DROP, the call ends\n"
    "  raw HEX            write the bytes as given, spaces allowed\n"
    "  silent on|off      stop / resume answering the driver\n"
    "  state              print the state line again\n"
    "  stats              print \"spi blocks N\"\n"
    "  quit               exit\n"
    "Empty lines and lines starting with '#' are ignored. End of input exits\n"
    "unless --stay; with --stay a FIFO on standard input waits for its next writer.\n"
    "\n"
    "Standard output, one event a line:\n"
    "  serial PATH        first line: the port for the driver\n"
    "  spi PATH           second line, with --spi\n"
    "  rx HEX NAME        a frame from the driver (NAME e.g. CMD_CALL, or cmd=0xNN)\n"
    "  rx garbage HEX     bytes from the driver outside any valid frame\n"
    "  tx HEX NAME        bytes written to the driver (NAME raw for raw)\n"
    "  state idle | state ringing N | state talking N   (at start, on change)\n"
    "  spi connected | spi disconnected | spi blocks N\n"
    "With --replay: serial PATH; \"replay session origin T frames N chunks N\"\n"
    "(T: the recorded time of the driver's first frame, seconds since the epoch);\n"
    "\"replay origin MS\" when the driver's first frame comes (MS: the monotonic\n"
    "clock, milliseconds); rx/tx lines; at the end \"replay frames N matched N\n"
    "missing N extra N mistimed N junk N\", \"replay first difference: ...\" if\n"
    "any, and \"replay passed\" or \"replay FAILED\".\n";

int bad(const QString& text)
{
    printError(text);
    fprintf(stderr, "Try shield-sim --help\n");
    return 2;
}

} // namespace

int Options::parse(const QStringList& args)
{
    for (int i = 1; i < args.size(); ++i) {
        QString opt = args.at(i);
        QString value;
        const int eq = opt.indexOf(QLatin1Char('='));
        const bool inlineValue = opt.startsWith(QLatin1String("--")) && eq > 0;
        if (inlineValue) {
            value = opt.mid(eq + 1);
            opt.truncate(eq);
        }
        // The value after '=', else the next argument; false if there is none.
        auto take = [&] {
            if (!inlineValue && i + 1 >= args.size())
                return false;
            if (!inlineValue)
                value = args.at(++i);
            return true;
        };
        // Each true if opt is its option; ok then says whether its value was good.
        bool ok = true;
        auto flag = [&](const char* name, bool* to) {
            return !inlineValue && opt == QLatin1String(name) && (*to = true);
        };
        auto text = [&](const char* name, QString* to) {
            if (opt != QLatin1String(name))
                return false;
            if ((ok = take() && !value.isEmpty()))
                *to = value;
            return true;
        };
        auto number = [&](const char* name, qint64 min, qint64 max, int* to) {
            qint64 v = 0;
            if (opt != QLatin1String(name))
                return false;
            if ((ok = take() && parseNumber(value, min, max, &v)))
                *to = static_cast<int>(v);
            return true;
        };

        if (opt == QLatin1String("--help") || opt == QLatin1String("-h")) {
            fputs(kUsage, stdout);
            return -1;
        }
        if (flag("--stay", &stay) || flag("--verbose", &verbose) || flag("--die-with-parent", &dieWithParent)
            || flag("--record-raw", &recordRaw)
            || text("--link", &link) || text("--spi", &spi) || text("--wav-in", &wavIn)
            || text("--record", &record) || text("--replay", &replay)
            || number("--tolerance", 0, 60000, &toleranceMs) || number("--amplitude", 0, 32767, &amplitude)
            || number("--version", 0, 255, &version) || number("--revision", 0, 255, &revision)
            || number("--firmware", 0, 65535, &firmware) || number("--beta", 0, 255, &beta)
            || number("--delay", 0, 10000, &delayMs) || number("--auto-ring", 0, 255, &autoRing)
            || number("--every", 1, 86400, &everyS) || number("--ring-timeout", 0, 86400, &ringTimeoutS)) {
            if (!ok)
                return bad(QStringLiteral("%1: missing or bad value").arg(opt));
            continue;
        }
        const bool isSpeed = opt == QLatin1String("--speed");
        if (isSpeed || opt == QLatin1String("--tone")) {
            bool fine = false;
            const double n = take() ? value.toDouble(&fine) : 0.0;
            if (isSpeed && (!fine || !(n > 0 && n <= 1000)))
                return bad(QStringLiteral("--speed: need a number above 0, at most 1000"));
            if (!isSpeed && (!fine || n < 0 || n >= kSampleRate / 2))
                return bad(QStringLiteral("--tone: need 0 to %1 Hz").arg(kSampleRate / 2 - 1));
            (isSpeed ? speed : toneHz) = n;
            continue;
        }
        if (opt == QLatin1String("--uid")) {
            const QStringList words = take() ? value.split(QLatin1Char(',')) : QStringList();
            if (words.size() != 3)
                return bad(QStringLiteral("--uid: need three hex words W0,W1,W2"));
            for (int w = 0; w < 3; ++w) {
                QString word = words.at(w).trimmed();
                if (word.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
                    word = word.mid(2);
                bool fine = false;
                const qulonglong v = word.toULongLong(&fine, 16);
                if (!fine || v > 0xFFFFFFFFull)
                    return bad(QStringLiteral("--uid: bad word %1").arg(words.at(w)));
                uid[w] = static_cast<quint32>(v);
            }
            continue;
        }
        return bad(QStringLiteral("unknown option %1").arg(args.at(i)));
    }
    if (spi.isEmpty() && (!record.isEmpty() || !wavIn.isEmpty()))
        return bad(QStringLiteral("--record and --wav-in need --spi"));
    if (recordRaw && record.isEmpty())
        return bad(QStringLiteral("--record-raw needs --record"));
    return 0;
}
