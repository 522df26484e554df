// How the publisher reaches its broker, the check of those settings before
// anything starts (a mistake there is the user's to mend: starting again
// cannot), and the words for what the broker says when it refuses.
#pragma once

#include "publish/Outbox.h"
#include "publish/Payloads.h"

#include "platform/OrReason.h"

#include <string>

namespace publish {

struct BrokerOptions {
    std::string Host = "localhost";
    int Port = 1883;
    std::string User; // none when empty
    std::string Password;
    std::string CaFile;   // TLS, checking the broker against this CA, when set
    std::string ClientId; // empty: the broker makes one up
    std::string Prefix = std::string(kDefaultPrefix);
    int KeepaliveSeconds = 30; // libmosquitto takes 5 or more
    // Between attempts: the shortest, doubled after each failed one up to the
    // longest. Kept short, as the broker's return waits out the whole delay.
    int ReconnectMinSeconds = 1;
    int ReconnectMaxSeconds = 10;
    std::string OutboxPath;
    OutboxLimits Limits;
};

// Why the options cannot work, whatever the broker does: a prefix under
// "$" (the broker's own topics) or with a wildcard, a client id or user name
// that is no UTF-8, a CA file without a certificate, and the like.
platform::Outcome CheckOptions(const BrokerOptions& options);

// The broker's refusal (its CONNACK code) in words, with what to mend:
// "The broker H:P refused the connection (bad user name or password): check
// user and password."
std::string RefusalText(const BrokerOptions& options, int code);

} // namespace publish
