#include "core/StatusNotes.h"

#include "modbus/PortName.h"

namespace core {

namespace {

std::string ValuesAge(const StatusNotes& notes) {
    if (notes.LastGoodRead.empty()) return "brak poprawnego odczytu";
    return "wartości z odczytu o " + notes.LastGoodRead;
}

} // namespace

std::string MeterText(const modbus::LinkSettings& link) {
    // The speed and parity of a gateway's line are the gateway's, not ours.
    if (modbus::IsGatewayName(link.PortName))
        return link.PortName + ", adres " + std::to_string(link.DeviceAddress);
    const std::optional<size_t> parity = modbus::ParityIndex(link.Parity);
    return link.PortName + ", " + std::to_string(link.BaudRate) + " bit/s, parzystość " +
           std::string(parity ? modbus::kParities[*parity].Text : "?") + ", adres " +
           std::to_string(link.DeviceAddress);
}

std::string UnansweredText(const modbus::LinkSettings& link) {
    const std::string search = "; „Szukaj przepływomierza” (strona Parametry komunikacji) go znajdzie";
    if (modbus::IsGatewayName(link.PortName))
        return "brak odpowiedzi: sprawdź adres bramki i adres przepływomierza (prędkość i parzystość linii "
               "ustawia bramka)" +
               search;
    return "brak odpowiedzi: sprawdź prędkość, parzystość i adres oraz czy " + link.PortName +
           " to port adaptera przepływomierza" + search;
}

std::string SavedText(const std::string& path, size_t records, std::string_view beforePath) {
    // 1 rekord, 2-4 rekordy (not 12-14), otherwise rekordów.
    const size_t tens = records % 100, ones = records % 10;
    const char* noun = records == 1                                         ? "rekord"
                       : ones >= 2 && ones <= 4 && (tens < 12 || tens > 14) ? "rekordy"
                                                                            : "rekordów";
    return "Zapisano " + std::to_string(records) + " " + noun + " do pliku" + std::string(beforePath) + path +
           ".";
}

std::string DetailsLine(const StatusNotes& notes) {
    if (!notes.Download.empty()) return notes.Download;
    if (!notes.Settings.empty()) return notes.Settings;
    if (!notes.PortProblem.empty())
        return notes.PortNote.empty() ? notes.PortProblem : notes.PortProblem + " · " + notes.PortNote;
    if (notes.Meter) {
        std::string meter = MeterText(*notes.Meter);
        if (!notes.PortNote.empty()) meter += " · " + notes.PortNote;
        if (notes.Unanswered) return meter + " · " + UnansweredText(*notes.Meter);
        return notes.ValuesCurrent ? meter : meter + " · " + ValuesAge(notes);
    }
    if (!notes.Saved.empty()) return notes.Saved;
    if (notes.LastGoodRead.empty()) return {};
    return "Nie połączono: " + ValuesAge(notes) + ".";
}

} // namespace core
