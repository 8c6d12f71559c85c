#ifndef SETTINGS_H
#define SETTINGS_H

#include <QList>
#include <QString>
#include <atomic>
#include <cstdint>

// The configuration record: intercom type index and the shield's identity.
class Settings
{
public:
    Settings();

    // --help and --version: the text to print before exiting with 0, or an
    // empty string when the driver is to run. Nothing has started yet then.
    static QString answerBeforeStart(int argc, char** argv);
    void parser_param(int argc, char** argv);
    // May run in the console thread while the main thread reads the index.
    void set_intercom(uint8_t intercomNumb);
    void send_info_to_console();

    std::atomic<uint8_t> setIntercom{0};
    uint16_t firmware = 0;
    uint16_t beta = 0;
    uint8_t version = 0;
    uint8_t revision = 0;
    uint32_t id[3] = {0, 0, 0};
    std::atomic<uint8_t> flagAdrGate{0};
    // -confirm: the shield's confirmations of a pick-up and of a door
    // command are told to the parent as "pickup" and "open N" lines, and a
    // door command it never answered as "open N failed". Set by the
    // command line before any thread starts.
    bool confirm = false;
    // -audio-fifo: the parent's audio waits in a plain FIFO, never trimmed
    // to keep the delay down (a parent that keeps its own latency).
    bool audioFifo = false;
    // -rt-priority N: the audio thread's SCHED_FIFO priority, 0 for none.
    static constexpr int kDefaultRtPriority = 10;
    int rtPriority = kDefaultRtPriority;

private:
    uint8_t get_intercom_from_list_arg(QList<QString> options);
    int get_rt_priority_from_list_arg(const QList<QString>& options);
};

#endif
