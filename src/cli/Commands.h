// The commands of corvane-cli; each lives in a source file of its own and is listed in main.cpp.
#pragma once

#include "cli/CliSupport.h"

// ConvertCommand.cpp: one MP3 file to an AMR-NB file.
int RunConvert(CommandArguments& arguments);
