#ifndef SHIELD_SIM_CONTROLINPUT_H
#define SHIELD_SIM_CONTROLINPUT_H

// Standard input as lines. At its end the application quits, unless
// stay: then a FIFO waits for its next writer, anything else is left be.

#include <QObject>

#include <functional>

class QSocketNotifier;

class ControlInput : public QObject
{
public:
    explicit ControlInput(bool stay, QObject* parent = nullptr) : QObject(parent), stay(stay) {}

    void start();

    // Each line without its newline; a last line without one at the end.
    std::function<void(const QString&)> onLine;

private:
    void readInput();

    bool stay;
    QSocketNotifier* note = nullptr;
    QByteArray pending;
};

#endif
