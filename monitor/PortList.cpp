#include "monitor/PortList.h"

#include "modbus/LinkSettings.h"
#include "modbus/PortName.h"
#include "modbus/SerialPort.h"

#include <QAbstractItemView>

#include <algorithm>
#include <filesystem>
#include <set>

namespace monitor {

namespace {
constexpr int kAboutRole = Qt::UserRole;
constexpr int kOtherRole = Qt::UserRole + 1;
constexpr Qt::MatchFlags kSameName = Qt::MatchExactly | Qt::MatchCaseSensitive;

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

bool listed(const std::vector<PortEntry>& entries, const QString& name) {
    return std::any_of(entries.begin(), entries.end(),
                       [&name](const PortEntry& e) { return e.Name == name; });
}
} // namespace

std::vector<PortEntry> PortsBeyondTheTwelve(const std::vector<platform::SerialPortInfo>& present) {
    // Both the names and where they lead here: a COM name may lead to a link
    // in the working directory, and then its ttyS is nobody's.
    std::set<std::string> reached;
    for (int number = 1; number <= modbus::kPortCount; ++number) {
        const std::string name = "COM" + std::to_string(number);
        reached.insert(name);
        reached.insert(modbus::ResolvePortName(name));
    }
    std::vector<PortEntry> result;
    for (const platform::SerialPortInfo& port : present) {
        const QString name = QString::fromStdString(port.Name);
        if (reached.contains(port.Name) || reached.contains(port.Device) || listed(result, name)) continue;
        result.push_back({name, DescribeAdapter(port)});
    }
    return result;
}

QString DescribeAdapter(const platform::SerialPortInfo& port) {
    const QString maker = QString::fromStdString(port.Maker).trimmed();
    const QString product = QString::fromStdString(port.Product).trimmed();
    // Many adapters repeat their maker in the product's name.
    const QString what = product.startsWith(maker, Qt::CaseInsensitive)
                             ? product
                             : (maker + QLatin1Char(' ') + product).trimmed();
    QStringList parts;
    if (!what.isEmpty()) parts << what;
    if (!port.Serial.empty()) parts << QStringLiteral("nr seryjny ") + QString::fromStdString(port.Serial);
    if (!port.Driver.empty()) parts << QStringLiteral("sterownik ") + QString::fromStdString(port.Driver);
    return parts.join(QStringLiteral(", "));
}

QString DescribeGateway(std::string_view name) {
    if (!modbus::IsGatewayName(name)) return {};
    const platform::OrReason<modbus::PortAddress> address = modbus::ParsePortName(name);
    if (!address)
        return QStringLiteral("\"%1\": %2.").arg(fromUtf8(name), QString::fromStdString(address.error));
    QString host = QString::fromStdString(address->Host);
    if (host.contains(QLatin1Char(':'))) host = QLatin1Char('[') + host + QLatin1Char(']');
    const QString where = host + QLatin1Char(':') + QString::number(address->Port);
    if (address->Form == modbus::PortForm::ModbusTcp)
        return QStringLiteral("Bramka MODBUS TCP %1.").arg(where);
    return QStringLiteral("Serwer portu szeregowego (RTU przez TCP) %1.").arg(where);
}

bool SameDevice(const std::string& a, const std::string& b) {
    const auto device = [](const std::string& name) {
        const std::string path = modbus::ResolveDevice(name);
        std::error_code error;
        const std::filesystem::path target = std::filesystem::weakly_canonical(path, error);
        return error ? path : target.string();
    };
    const std::string first = device(a);
    return !first.empty() && first == device(b);
}

platform::OrReason<std::string> CheckPortName(std::string_view typed) {
    using Result = platform::OrReason<std::string>;
    const std::string name = fromUtf8(typed).trimmed().toStdString();
    if (name.empty()) return Result::Fail("Nie podano nazwy portu.");
    if (modbus::IsGatewayName(name)) {
        if (const platform::OrReason<modbus::PortAddress> address = modbus::ParsePortName(name); !address)
            return Result::Fail("Błędny adres bramki \"" + name + "\": " + address.error + ".");
    } else if (modbus::ResolveDevice(name).empty()) {
        return Result::Fail("\"" + name + "\" nie jest nazwą portu ani adresem bramki.");
    }
    return {name, {}};
}

QString PortNameExamples() {
#ifdef Q_OS_WIN
    const QString serial = QStringLiteral("COM17");
#else
    const QString serial = QStringLiteral("/dev/ttyUSB3");
#endif
    return QStringLiteral("%1 – port szeregowy\n"
                          "tcp://10.0.0.7 – bramka MODBUS TCP (port 502, gdy nie podano innego)\n"
                          "rtu+tcp://192.168.1.50:4001 – serwer portu szeregowego (RTU przez TCP)")
        .arg(serial);
}

PortBox::PortBox(QWidget* parent) : DropDownBox(Kind::PickOnly, parent) {
    // The program's selections too: the way back from the item that asks.
    connect(this, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!isOtherItem(index)) Chosen = itemText(index);
    });
}

void PortBox::setPresent(const std::vector<PortEntry>& present) {
    const int fixed = modbus::kPortCount;
    const int chosen = currentIndex() >= fixed && !otherItemChosen() ? currentIndex() : -1;
    // The chosen item stays where it is while the others go: the selection
    // never moves, so nothing reads another port meanwhile.
    for (int i = count() - 1; i >= fixed; --i)
        if (i != chosen) removeItem(i);
    const QString chosenName = chosen >= 0 ? itemText(fixed) : QString();
    std::vector<PortEntry> entries = present;
    for (const QString& name : Kept)
        if (!listed(entries, name)) entries.push_back({name, {}});
    if (chosen >= 0 && !listed(entries, chosenName)) entries.push_back({chosenName, about(fixed)});
    int at = fixed;
    for (const PortEntry& entry : entries) {
        if (entry.Name != chosenName) insertItem(at, entry.Name);
        setItemData(at++, entry.About, kAboutRole);
    }
    addOtherItem();
    // Long names (/dev/serial/by-id/...) are read whole in the open list.
    view()->setMinimumWidth(view()->sizeHintForColumn(0));
}

void PortBox::addOtherItem() {
    addItem(QStringLiteral("Inny port lub bramka…"));
    setItemData(count() - 1, true, kOtherRole);
}

void PortBox::selectPort(const QString& name) {
    int index = findText(name, kSameName);
    if (index < 0 || isOtherItem(index)) {
        Kept << name;
        index = isOtherItem(count() - 1) ? count() - 1 : count();
        insertItem(index, name);
    }
    setCurrentIndex(index);
}

int PortBox::fileIndex() const {
    return currentIndex() < modbus::kPortCount ? currentIndex() : -1;
}

QString PortBox::portBeyondTheTwelve() const {
    return currentIndex() >= modbus::kPortCount && !otherItemChosen() ? currentText() : QString();
}

void PortBox::backToChosen() {
    setCurrentIndex(Chosen.isEmpty() ? -1 : findText(Chosen, kSameName));
}

bool PortBox::isOtherItem(int index) const {
    return index >= 0 && itemData(index, kOtherRole).toBool();
}

QString PortBox::about(int index) const {
    return itemData(index, kAboutRole).toString();
}

} // namespace monitor
