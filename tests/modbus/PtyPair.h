// A pseudo-terminal pair for port tests: the master stands for the meter's end.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <string>
#include <termios.h>
#include <unistd.h>

struct PtyPair {
    int master = -1;
    int slave = -1; // held open like a simulator does, so closing the port is no hang-up
    std::string slavePath;

    PtyPair() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        slavePath = ptsname(master);
        slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
    }
    ~PtyPair() {
        if (slave >= 0) ::close(slave);
        if (master >= 0) ::close(master);
    }
    bool ok() const { return master >= 0 && slave >= 0; }
};
