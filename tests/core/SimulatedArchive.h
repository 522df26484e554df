// A simulated meter with a dated archive, and the export file its records
// should give, for the tests that download it (the window's and the tool's).
#pragma once

#include "tests/common/SimulatorFixture.h"

#include "core/ExportFile.h"
#include "core/RecordLine.h"
#include "model/Cp1250.h"

#include <QFile>
#include <QTest>

#include <algorithm>
#include <ctime>
#include <memory>

constexpr std::time_t kNow = 1717243200; // 2024-06-01 12:00 UTC
constexpr int kLong = 60000;             // ms: a download under the sanitizers

inline QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A meter without wire timing, its archive dated up to `now`, linked as COM1 in dir.
inline std::unique_ptr<vqtsim::Simulator> StartSim(const QString& dir, int records, bool wrapped,
                                                   std::time_t now = kNow) {
    vqtsim::Options o = testsim::FastMeter(dir);
    o.archiveRecords = records;
    o.archiveWrapped = wrapped;
    o.archiveNow = now;
    return testsim::StartSimulator(o, true);
}

// A meter at settings nobody would guess (address 17, 19200 bit/s, odd
// parity, the one parity a pty lets it tell apart), on a line that answers
// as a real one would, linked as COM1 in dir.
inline std::unique_ptr<vqtsim::Simulator> StartHiddenMeter(const QString& dir) {
    vqtsim::Options o = testsim::FastMeter(dir);
    o.strictLine = true;
    o.address = 17;
    o.baudRate = 19200;
    o.parity = 1;
    return testsim::StartSimulator(o, true);
}

// The export of the first `upTo` dated records in reading order (all of
// them for -1): in time order, numbered from 0, as the window writes it.
inline QByteArray ExpectedExport(const vqtsim::Simulator& sim, const std::string& separator, int upTo = -1) {
    std::vector<std::string> lines;
    for (int i = 0; i < vqtsim::kArchiveSlots && (upTo < 0 || static_cast<int>(lines.size()) < upTo); ++i) {
        const auto record = sim.ArchiveRecord(1 + i / vqtsim::kRecordsPerFile, i % vqtsim::kRecordsPerFile);
        core::ArchiveRecord r;
        std::copy(record.begin(), record.end(), r.begin());
        const std::string line = core::BuildRecordLine(r, separator);
        if (core::RecordDateField(line) <= "1999-01-01") break;
        lines.push_back(model::Utf8ToCp1250(line));
    }
    std::sort(lines.begin(), lines.end());
    return QByteArray::fromStdString(core::ExportHeader() + "\r\n" + core::NumberedLines(lines, 0));
}
