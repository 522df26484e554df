// The wire-timed simulator a benchmark runs against, linked as COM1 in the
// given folder; the benchmark ends when it cannot start.
#pragma once

#include "sim/Simulator.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

// records: the dated records; the whole archive has no end record, and its
// last record of file 4 ends a download.
inline std::unique_ptr<vqtsim::Simulator> StartWireSim(const std::string& folder, uint32_t baud,
                                                       int records) {
    vqtsim::Options o;
    o.linkDir = folder;
    o.baudRate = baud;
    o.archiveRecords = records;
    auto sim = std::make_unique<vqtsim::Simulator>(o);
    if (!sim->Start()) {
        std::fprintf(stderr, "simulator: %s\n", sim->Error().c_str());
        std::exit(1);
    }
    return sim;
}
