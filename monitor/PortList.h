// The port list of the communication page: COM1 ... COM12 in their places
// (the settings file counts them by index), then the ports present that
// those names do not reach, the ports the user typed or the file named, and
// last an item that asks for another port's name or a gateway's address.
#pragma once

#include "monitor/ComboBoxes.h"

#include "platform/OrReason.h"
#include "platform/SerialPorts.h"

#include <QString>

#include <string>
#include <string_view>
#include <vector>

namespace monitor {

// A port beyond the twelve: its name, what to open, and the adapter behind
// it in a technician's words (empty when the system says nothing of it).
struct PortEntry {
    QString Name;
    QString About;
    bool operator==(const PortEntry&) const = default;
};

// The ports present that no name of COM1 ... COM12 reaches, in the order
// given, each once.
std::vector<PortEntry> PortsBeyondTheTwelve(const std::vector<platform::SerialPortInfo>& present);
// "FTDI FT232R USB UART, nr seryjny A10K3B7Q, sterownik ftdi_sio".
QString DescribeAdapter(const platform::SerialPortInfo& port);
// What a gateway's name leads to ("Bramka MODBUS TCP 10.0.0.7:502."), or
// why it is malformed; empty for a serial name.
QString DescribeGateway(std::string_view name);
// Whether two serial names lead to one device (a by-id link and its
// ttyUSB, a COM name and the link it takes).
bool SameDevice(const std::string& a, const std::string& b);
// A typed port name, blanks around it dropped, or why no port has it.
platform::OrReason<std::string> CheckPortName(std::string_view typed);
// The forms a typed name may take, one example a line, for this system.
QString PortNameExamples();

class PortBox : public DropDownBox {
    Q_OBJECT
public:
    explicit PortBox(QWidget* parent = nullptr);

    // Rebuilds the items after the twelve from the ports present now; the
    // chosen port stays chosen (and listed, present or not).
    void setPresent(const std::vector<PortEntry>& present);
    // Selects the port of that name, listing it after the twelve (for as
    // long as the window runs) when it is not listed yet.
    void selectPort(const QString& name);
    // The index the settings file keeps: one of the twelve, else -1.
    int fileIndex() const;
    // The chosen port when it is beyond the twelve, else empty.
    QString portBeyondTheTwelve() const;

    // The user picked the item that asks for another port; backToChosen()
    // shows again the port chosen before.
    bool otherItemChosen() const { return isOtherItem(currentIndex()); }
    void backToChosen();
    bool isOtherItem(int index) const;
    // The adapter behind an item, as PortEntry::About.
    QString about(int index) const;

private:
    void addEntry(const PortEntry& entry);
    void addOtherItem();

    QStringList Kept; // typed or read from the file
    QString Chosen;   // the port selected last
};

} // namespace monitor
