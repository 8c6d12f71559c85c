#ifndef LOGOUTPUT_H
#define LOGOUTPUT_H

// zma-log's output: the printed lines, buffered and written in large pieces,
// and the save file, kept in the saved-log format. Both are written out
// when a buffer grows large and whenever flush() is called.

#include <QByteArray>
#include <QString>

class LogOutput
{
public:
    LogOutput() = default;
    ~LogOutput();
    LogOutput(const LogOutput&) = delete;
    LogOutput& operator=(const LogOutput&) = delete;

    // Appends to path, creating it.
    bool openSave(const QString& path, QString* error);

    // The decoder appends the printed lines here; call written() after.
    QByteArray* printBuffer() { return &printed; }
    void written();
    // Nothing without a save file.
    void save(double time, const QByteArray& text);

    bool unflushed() const { return !printed.isEmpty() || !saved.isEmpty(); }
    void flush();
    // stdout has gone (a closed pipe): nothing more can be shown.
    bool stdoutGone() const { return gone; }
    // Why the save file failed, or empty.
    QString saveError() const { return saveFailure; }

private:
    void writePrinted();
    void writeSaved();

    QByteArray printed;
    QByteArray saved;
    int saveFd = -1;
    bool gone = false;
    QString saveFailure;
};

#endif
