// Definitions of the process-wide globals.
#include "app/globals.h"

std::wstring g_sourceRoot;
std::wstring g_installDir;
std::FILE* g_packageOut = nullptr;
