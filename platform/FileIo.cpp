#include "platform/FileIo.h"

namespace platform {

std::string FileErrorText(std::string_view action, std::string_view path, std::string_view reason) {
    std::string text(action);
    text += " pliku ";
    text += path;
    text += " nie powiódł się (";
    text += reason;
    text += ").";
    return text;
}

} // namespace platform
