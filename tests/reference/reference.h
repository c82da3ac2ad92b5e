// The plain definition of every effect (effects/*/definition.h) in the plain
// block frame (framework/plain_frame.h), by plug-in name. The plug-ins'
// fast paths are held to it bit for bit, by the tests and by one fuzz target
// per plug-in.
#pragma once

#include <memory>
#include <string>

#include "framework/plain_frame.h"

namespace velmor::reference {

using definition::Block;
using definition::Model;

// The reference of the plug-in with this file name ("VelmorFilter", ...),
// with no object yet; null for a name it does not know.
std::unique_ptr<Model> MakeModel(const std::string& plugin);

}  // namespace velmor::reference
