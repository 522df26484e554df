// The simulator's end of the line: a new pty (held open from our side, with
// a link to it) or a serial device, and who else has the pty open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <termios.h>

namespace vqtsim {

class Port {
public:
    Port() = default;
    ~Port();
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    // False with Error() set when that fails.
    bool OpenPty(uint32_t baud);
    bool OpenDevice(const std::string& device, uint32_t baud, int parity);
    bool CreateLink(const std::string& dir, const std::string& name);
    void RemoveLink();
    void CloseIo(); // a lost device, until it is opened again
    void CloseAll();

    int Fd() const { return io; }
    int WatchFd() const { return watch; }
    const std::string& DevicePath() const { return devicePath; }
    const std::string& LinkPath() const { return linkPath; }
    const std::string& Error() const { return error; }

    // Follows the opens and closes of the pty slave by others. When the last
    // one closes, what we sent and nobody read is thrown away, as a closed
    // serial port loses what arrives while it is closed.
    void TrackOpeners();
    bool Listening() const { return !openersKnown || openers > 0; }
    // Gives up when nobody reads for a while or `wake` becomes readable.
    bool WriteAll(const uint8_t* data, size_t n, int wake);
    // What the master set on its side of the pty; false without one.
    bool MasterSettings(termios& t) const;

private:
    int io = -1;    // pty master or serial device
    int slave = -1; // our own pty slave descriptor: keeps the pty up between the master's opens
    int watch = -1; // inotify on the pty slave: tells when nobody else has it open
    bool openersKnown = false;
    int openers = 0;
    std::string devicePath, linkPath, error;
};

} // namespace vqtsim
