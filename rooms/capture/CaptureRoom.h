#pragma once

#include "Host.h"

#include <memory>

namespace capture {
class Writer;
}

// Writes every chunk read from both decoders, before its passings are
// stored, and the settings that measure them into a capture file, so that
// korvane-replay gives the attempts the program gave.
class CaptureRoom : public Room {
    Q_OBJECT
public:
    // `writer` is open: it was opened before the window, so that no chunk
    // read goes unrecorded.
    CaptureRoom(Host& host, std::unique_ptr<capture::Writer> writer);
    ~CaptureRoom() override;

    // Finishes the file; raises Error when any of it did not reach the disk.
    void close() override;

private:
    void writeSettings();
    void stop();

    std::unique_ptr<capture::Writer> writer_;
};
