#include "cli/AddressList.h"

#include "modbus/PortName.h"
#include "model/LinkCheck.h"

#include <algorithm>

namespace cli {

platform::OrReason<std::vector<uint8_t>> ParseAddressList(const std::string& text) {
    using Result = platform::OrReason<std::vector<uint8_t>>;
    std::vector<uint8_t> addresses;
    size_t from = 0;
    while (from <= text.size()) {
        const size_t comma = std::min(text.find(',', from), text.size());
        const std::string part = text.substr(from, comma - from);
        const size_t dash = part.find('-', 1);
        const platform::OrReason<uint8_t> low = model::ReadAddress(part.substr(0, dash));
        const platform::OrReason<uint8_t> high =
            dash == std::string::npos ? low : model::ReadAddress(part.substr(dash + 1));
        if (!low || !high) return Result::Fail("\"" + part + "\": " + (!low ? low.error : high.error));
        if (*high < *low) return Result::Fail("\"" + part + "\": the range runs backwards");
        for (int a = *low; a <= *high; ++a) {
            if (std::find(addresses.begin(), addresses.end(), a) != addresses.end())
                return Result::Fail("address " + std::to_string(a) + " given twice");
            addresses.push_back(static_cast<uint8_t>(a));
        }
        from = comma + 1;
    }
    return {std::move(addresses), {}};
}

void ResolveAddresses(CommonOptions& o) {
    // The meters the command reads: the list given, else the one address.
    if (o.AddressList.empty())
        o.Addresses = {static_cast<uint8_t>(o.Address)};
    else
        o.Addresses = *ParseAddressList(o.AddressList);
    o.Address = o.Addresses.front();
    // A gateway's network hop and its own wait come on top of the meter's.
    if (!o.TimeoutSet && modbus::IsGatewayName(o.Port)) o.TimeoutMs = kGatewayTimeoutMs;
}

} // namespace cli
