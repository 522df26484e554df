#include "platform/FileIo.h"

namespace platform {

std::string TooLongText(const std::string& path, size_t limit) {
    return FileErrorText("Odczyt", path, "dłuższy niż " + std::to_string(limit) + " bajtów");
}

std::string FileErrorText(std::string_view action, std::string_view path, std::string_view reason) {
    // "Zapis" and "Odczyt" take "powiódł", "Utworzenie" and "Otwarcie" "powiodło".
    const std::string_view noun = action.substr(0, action.find(' '));
    std::string text(action);
    text += " pliku ";
    text += path;
    text += noun.ends_with('e') ? " nie powiodło się (" : " nie powiódł się (";
    text += reason;
    text += ").";
    return text;
}

} // namespace platform
