// The commands of corvane-cli; each lives in a source file of its own and is listed in main.cpp.
#pragma once

#include "cli/CliSupport.h"

// PackageCommands.cpp: looking into a package file.
int RunInspect(CommandArguments& arguments);
int RunExtract(CommandArguments& arguments);
