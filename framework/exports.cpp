// The three entry points every plug-in library exports, and nothing else.
#include "framework/descriptor.h"

VELMOR_EXPORT velmor::FilterPluginTable* GetFilterPluginTable() { return &velmor::gPluginTable; }

VELMOR_EXPORT bool InitializePlugin() { return true; }

VELMOR_EXPORT void UninitializePlugin() {}
