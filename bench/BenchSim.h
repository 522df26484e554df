// The wire-timed simulator a window benchmark runs against, in a fresh
// working directory.
#pragma once

#include "bench/WireSim.h"

#include <QDir>
#include <QTemporaryDir>

inline std::unique_ptr<vqtsim::Simulator> StartBenchSim(const QTemporaryDir& dir, uint32_t baud,
                                                        int records = 100) {
    QDir::setCurrent(dir.path());
    return StartWireSim(dir.path().toStdString(), baud, records);
}
