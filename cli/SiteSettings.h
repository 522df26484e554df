// A site's "key = value" settings file, for publish.
#pragma once

#include "platform/OrReason.h"

#include <string>
#include <vector>

namespace CLI {
class App;
} // namespace CLI

namespace cli {

// A site's settings file as command-line arguments ("--key=value") for the
// options of `command` that the command line did not give; or the reason
// ("FILE, line N: …") when the file is no regular file or cannot be read, or
// a line names no option, one given before, or holds a NUL. A leading UTF-8
// byte order mark is skipped; a password in a file every user can read is
// warned of on stderr.
platform::OrReason<std::vector<std::string>> SiteArguments(const std::string& path, const CLI::App& command);

} // namespace cli
