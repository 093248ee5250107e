#pragma once

#include <QByteArray>
#include <QString>

// Opens the master side of a pseudo-terminal pair, raw (the bytes of a
// serial line: no echo, no CR/LF mapping either way), and names its slave.
// Returns the master fd (blocking), or -1 with the reason in *error.
int openRawPtyMaster(QString& slavePath, QString* error = nullptr);

// One pseudo-terminal standing in for a serial device. The master side is
// raw and non-blocking; a slave fd is kept open (and never read) so the
// master sees no hang-up while the program has the device closed.
class Pty {
public:
    Pty() = default;
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Returns false with a reason when the pair cannot be made.
    bool open(QString* error);
    void close();

    int masterFd() const { return master_; }
    const QString& slavePath() const { return slavePath_; }

    enum class Io { Done, Again, Failed };
    // Writes what the master can take now; written says how much.
    Io write(const QByteArray& bytes, qsizetype& written);
    // Reads what is waiting; Again when nothing is.
    Io read(QByteArray& out);

private:
    int master_ = -1;
    int slaveKeep_ = -1;
    QString slavePath_;
};
