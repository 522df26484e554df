// The simulated meter as the tests start it, in-process: without the line's
// wire time (no test waits for a real line's pace), linked in a folder of
// the test's own, its live values frozen so that a test reads what it set.
#pragma once

#include "sim/Simulator.h"

#include <QString>
#include <QtGlobal>

#include <memory>

namespace testsim {

// linkDir: where the pseudo-terminal's link (COM1 unless renamed) goes;
// empty for a gateway or a device, which have none.
inline vqtsim::Options FastMeter(const QString& linkDir = {}) {
    vqtsim::Options o;
    o.wireTiming = false;
    if (!linkDir.isEmpty()) o.linkDir = linkDir.toStdString();
    return o;
}

// A simulator that cannot start (no pseudo-terminal, no socket) leaves
// nothing to test: the test stops there, with the reason.
inline std::unique_ptr<vqtsim::Simulator> StartSimulator(const vqtsim::Options& o, bool live = false) {
    auto sim = std::make_unique<vqtsim::Simulator>(o);
    if (!sim->Start()) qFatal("simulator: %s", sim->Error().c_str());
    sim->SetLive(live);
    return sim;
}

} // namespace testsim
