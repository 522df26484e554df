// Everything a command is set up with: the shared options, the settings
// files, the port check, the exit codes and the locale.
#pragma once

#include "cli/AddressList.h"
#include "cli/CommonOptions.h"
#include "cli/ExitCodes.h"
#include "cli/Locale.h"
#include "cli/PortCheck.h"
#include "cli/SiteSettings.h"
#include "cli/Validators.h"
#include "cli/WindowSettings.h"
