#include "publish/BrokerOptions.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace publish {

namespace {

using platform::Outcome;

bool Utf8(const std::string& text) {
    return mosquitto_validate_utf8(text.c_str(), int(text.size())) == MOSQ_ERR_SUCCESS &&
           text.find('\0') == std::string::npos;
}

// MQTT reserves topics that begin with "$" for the broker, which drops a
// client publishing there; a wildcard is no topic to publish to at all.
Outcome CheckPrefix(const std::string& prefix) {
    if (prefix.empty() || prefix.find_first_of("+#") != std::string::npos)
        return Outcome::Fail("The topic prefix must not be empty nor hold \"+\" or \"#\".");
    if (prefix[0] == '$')
        return Outcome::Fail("The topic prefix \"" + prefix +
                             "\" begins with \"$\", which MQTT keeps for the broker's own topics.");
    if (!Utf8(prefix) || prefix.size() > 1000)
        return Outcome::Fail("The topic prefix must be UTF-8 text of at most 1000 bytes.");
    return platform::Ok();
}

// A file of PEM certificates: libmosquitto takes one without any and every
// handshake then fails for a reason that names no file.
Outcome CheckCaFile(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error || !std::filesystem::is_regular_file(status))
        return Outcome::Fail("The CA file " + path + " cannot be read (" +
                             (error ? error.message() : std::string("not a regular file")) + ").");
    std::ifstream file(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof())
        return Outcome::Fail("The CA file " + path + " cannot be read (" + std::strerror(errno) + ").");
    if (text.find("-----BEGIN CERTIFICATE-----") == std::string::npos)
        return Outcome::Fail("The CA file " + path +
                             " holds no certificate (PEM, \"-----BEGIN CERTIFICATE-----\").");
    return platform::Ok();
}

} // namespace

Outcome CheckOptions(const BrokerOptions& o) {
    if (o.Host.empty() || !Utf8(o.Host)) return Outcome::Fail("No broker host was given.");
    if (o.Port < 1 || o.Port > 65535) return Outcome::Fail("The broker port must be 1 to 65535.");
    if (o.KeepaliveSeconds < 5 || o.KeepaliveSeconds > 65535)
        return Outcome::Fail("The keepalive must be 5 to 65535 seconds.");
    if (o.ReconnectMinSeconds < 1 || o.ReconnectMaxSeconds < o.ReconnectMinSeconds)
        return Outcome::Fail(
            "The reconnect delays must be 1 second or more, the longest not below the shortest.");
    if (const Outcome prefix = CheckPrefix(o.Prefix); !prefix) return prefix;
    if (!Utf8(o.ClientId) || o.ClientId.size() > 65535)
        return Outcome::Fail("The client id must be UTF-8 text of at most 65535 bytes.");
    if (!Utf8(o.User) || o.User.size() > 65535)
        return Outcome::Fail("The user name must be UTF-8 text of at most 65535 bytes.");
    if (o.Password.size() > 65535) return Outcome::Fail("The password must be at most 65535 bytes.");
    if (!o.CaFile.empty())
        if (const Outcome ca = CheckCaFile(o.CaFile); !ca) return ca;
    if (o.OutboxPath.empty()) return Outcome::Fail("No outbox file was given.");
    return platform::Ok();
}

std::string RefusalText(const BrokerOptions& o, int code) {
    const std::string broker = "The broker " + o.Host + ":" + std::to_string(o.Port);
    switch (code) {
    case 1:
        return broker +
               " refused the connection (unacceptable protocol version): it does not take MQTT 3.1.1.";
    case 2:
        return broker + " refused the client id \"" + o.ClientId + "\": give the tool another client-id.";
    case 3:
        return broker + " refused the connection (server unavailable).";
    case 4:
        return broker + " refused the connection (bad user name or password): check user and password.";
    case 5:
        return broker + " refused the connection (not authorised): check user and password, and the " +
               "broker's access rules.";
    default:
        return broker + " refused the connection (" + mosquitto_connack_string(code) + ").";
    }
}

} // namespace publish
