// The wire-timed simulator a window benchmark runs against, linked as COM1
// in a fresh working directory; the benchmark ends when it cannot start.
#pragma once

#include "Simulator.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

inline std::unique_ptr<vqtsim::Simulator> StartBenchSim(const QTemporaryDir& dir, uint32_t baud,
                                                        int records = 100) {
    QDir::setCurrent(dir.path());
    vqtsim::Options o;
    o.linkDir = dir.path().toStdString();
    o.baudRate = baud;
    o.archiveRecords = records;
    auto sim = std::make_unique<vqtsim::Simulator>(o);
    if (!sim->Start()) {
        std::fprintf(stderr, "simulator: %s\n", sim->Error().c_str());
        std::exit(1);
    }
    return sim;
}
