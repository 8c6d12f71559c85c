#ifndef GLOSS_H
#define GLOSS_H

// English beside the driver's fixed Russian messages: those it logs under
// Controller, and those it writes on stderr (a plain log read from a pipe).

#include <QByteArray>

class Gloss
{
public:
    // The English of each Russian message in text, in the order found, or
    // empty when there is none.
    static QByteArray of(const QByteArray& text);
};

#endif
