// The three entry points every AviUtl2 plug-in library exports, and nothing else.
#include "bindings/aviutl2/descriptor.h"

VELMOR_EXPORT velmor::FilterPluginTable* GetFilterPluginTable() { return &velmor::aviutl2::gPluginTable; }

VELMOR_EXPORT bool InitializePlugin() { return true; }

VELMOR_EXPORT void UninitializePlugin() {}
