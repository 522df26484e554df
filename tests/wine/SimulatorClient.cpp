// vqtsim::Simulator for the window's tests built for Windows: each call is
// asked of a real simulator that the Linux side runs (SimulatorHost.h), as
// a Windows program cannot make a pseudo-terminal. The tests stay as they
// are; their meter is linked where Wine's COM1 leads.
#include "tests/wine/SimulatorLink.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

namespace vqtsim {

namespace {
std::mutex linkMutex;
int lastId = 0;

// The words after "ok" of the answer. A link that breaks or a request the
// other side refuses ends the program: no test can go on without its meter.
std::string Ask(const std::string& request) {
    std::lock_guard lock(linkMutex);
    const std::string line = simlink::kRequest + request + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    std::string answer;
    static char chunk[1 << 16];
    while (std::fgets(chunk, sizeof chunk, stdin)) {
        answer += chunk;
        if (answer.back() == '\n') break;
    }
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
    if (answer != "ok" && !answer.starts_with("ok ")) {
        std::fprintf(stderr, "simulator link: '%s' answered '%s'\n", request.c_str(), answer.c_str());
        std::fflush(stderr);
        std::abort();
    }
    return answer.size() > 3 ? answer.substr(3) : std::string();
}

std::vector<uint64_t> Numbers(const std::string& words) {
    std::vector<uint64_t> numbers;
    std::istringstream s(words);
    for (uint64_t n; s >> n;) numbers.push_back(n);
    return numbers;
}
} // namespace

struct Simulator::Impl {
    explicit Impl(Options o) : options(std::move(o)), id(++lastId) {}
    Options options;
    int id;
    std::string error, device, link;
    std::vector<uint8_t> addresses;
    mutable std::map<int, std::vector<Record>> archives; // fetched once a meter
    std::string Id(const std::string& command) const { return command + ' ' + std::to_string(id); }
    static std::string Address(uint8_t a) {
        std::string word(1, ' ');
        return word.append(std::to_string(a));
    }
};

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {
    Ask(impl_->Id("new") + " " + simlink::EncodeOptions(impl_->options));
}

Simulator::~Simulator() {
    Ask(impl_->Id("destroy"));
}

bool Simulator::Start() {
    // "1 DEVICE ADDRESSES..." or "0 ERROR"
    const std::string answer = Ask(impl_->Id("start"));
    const bool started = answer.starts_with("1 ");
    std::istringstream words(answer.substr(2));
    if (!started) {
        impl_->error = answer.substr(2);
        return false;
    }
    words >> impl_->device;
    impl_->addresses.clear();
    for (int a; words >> a;) impl_->addresses.push_back(static_cast<uint8_t>(a));
    impl_->link =
        impl_->options.linkDir.empty() ? "" : impl_->options.linkDir + "/" + impl_->options.linkName;
    return true;
}

void Simulator::Stop() {
    Ask(impl_->Id("stop"));
}

const std::string& Simulator::Error() const {
    return impl_->error;
}
const std::string& Simulator::DevicePath() const {
    return impl_->device;
}
const std::string& Simulator::LinkPath() const {
    return impl_->link;
}
const std::vector<uint8_t>& Simulator::Addresses() const {
    return impl_->addresses;
}

void Simulator::SetFault(Fault fault, int code, int delayMs) {
    Ask(impl_->Id("fault") + " " + std::to_string(int(fault)) + " " + std::to_string(code) + " " +
        std::to_string(delayMs));
}
void Simulator::SetDropProbability(double p) {
    Ask(impl_->Id("drop") + " " + std::to_string(p));
}
void Simulator::SetFaultShare(double share) {
    Ask(impl_->Id("share") + " " + std::to_string(share));
}
void Simulator::SetWireTiming(bool on) {
    Ask(impl_->Id("wire") + " " + std::to_string(int(on)));
}
void Simulator::SetSilent(uint8_t address, bool silent) {
    Ask(impl_->Id("silent") + impl_->Address(address) + " " + std::to_string(int(silent)));
}
void Simulator::SetLive(bool on) {
    Ask(impl_->Id("live") + " " + std::to_string(int(on)));
}

std::array<uint16_t, 27> Simulator::Registers() const {
    return Registers(impl_->addresses.empty() ? impl_->options.address : impl_->addresses.front());
}
std::array<uint16_t, 27> Simulator::Registers(uint8_t address) const {
    const std::vector<uint64_t> values = Numbers(Ask(impl_->Id("regs") + impl_->Address(address)));
    std::array<uint16_t, 27> regs{};
    for (size_t i = 0; i < regs.size() && i < values.size(); ++i) regs[i] = static_cast<uint16_t>(values[i]);
    return regs;
}
void Simulator::SetRegister(int number, uint16_t value) {
    SetRegister(impl_->addresses.empty() ? impl_->options.address : impl_->addresses.front(), number, value);
}
void Simulator::SetRegister(uint8_t address, int number, uint16_t value) {
    Ask(impl_->Id("setreg") + impl_->Address(address) + " " + std::to_string(number) + " " +
        std::to_string(value));
}

Record Simulator::ArchiveRecord(int file, int index) const {
    return ArchiveRecord(impl_->addresses.empty() ? impl_->options.address : impl_->addresses.front(), file,
                         index);
}
Record Simulator::ArchiveRecord(uint8_t address, int file, int index) const {
    std::vector<Record>& archive = impl_->archives[address];
    if (archive.empty()) { // the whole archive in hexadecimal, record after record
        const std::string hex = Ask(impl_->Id("archive") + impl_->Address(address));
        archive.resize(hex.size() / (2 * sizeof(Record)));
        for (size_t i = 0; i < archive.size() * sizeof(Record); ++i)
            archive[i / sizeof(Record)][i % sizeof(Record)] =
                static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    }
    const size_t slot = static_cast<size_t>((file - 1) * kRecordsPerFile + index);
    return file >= 1 && index >= 0 && index < kRecordsPerFile && slot < archive.size() ? archive[slot]
                                                                                       : Record{};
}

namespace {
uint64_t Counter(const std::string& request, size_t which) {
    const std::vector<uint64_t> counters = Numbers(Ask(request));
    return which < counters.size() ? counters[which] : 0;
}
} // namespace

uint64_t Simulator::RequestsSeen() const {
    return Counter(impl_->Id("counters"), 0);
}
uint64_t Simulator::RepliesSent() const {
    return Counter(impl_->Id("counters"), 1);
}
uint64_t Simulator::WritesApplied() const {
    return Counter(impl_->Id("counters"), 2);
}
uint64_t Simulator::RequestsSeen(uint8_t address) const {
    return Counter(impl_->Id("counters") + impl_->Address(address), 0);
}
uint64_t Simulator::RepliesSent(uint8_t address) const {
    return Counter(impl_->Id("counters") + impl_->Address(address), 1);
}
uint64_t Simulator::WritesApplied(uint8_t address) const {
    return Counter(impl_->Id("counters") + impl_->Address(address), 2);
}

} // namespace vqtsim
