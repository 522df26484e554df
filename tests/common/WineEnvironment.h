// A Wine prefix's environment for the QProcess that runs a program in it.
#pragma once

#include "tests/cli/WinePrefix.h"

#include <QProcessEnvironment>

namespace winetest {

inline QProcessEnvironment ProcessEnvironment(const WinePrefix& prefix) {
    QProcessEnvironment env;
    for (const std::string& entry : prefix.Environment()) {
        const size_t equals = entry.find('=');
        env.insert(QString::fromStdString(entry.substr(0, equals)),
                   QString::fromStdString(entry.substr(equals + 1)));
    }
    return env;
}

} // namespace winetest
