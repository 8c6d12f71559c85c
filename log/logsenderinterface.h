#ifndef LOGSENDERINTERFACE_H
#define LOGSENDERINTERFACE_H

#include <QByteArray>

// Transport of finished log lines.
class LogSenderInterface
{
public:
    virtual void send(QByteArray massage) const = 0;

protected:
    ~LogSenderInterface() = default;
};

#endif
