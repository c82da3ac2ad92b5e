// The registry of the plain definitions: each plug-in's file name to its
// effect's definition (effects/*/definition.h) in the plain block frame,
// for every effect of effects/effects.txt.
#include "reference/reference.h"

#include <utility>

#include "reference_registry.h"

namespace velmor::reference {
namespace {

template <class Definition>
std::unique_ptr<Model> MakeFrame() {
  return std::make_unique<definition::Frame<Definition>>();
}

const std::pair<const char*, std::unique_ptr<Model> (*)()> kDefinitions[] = {
#include "reference_entries.inc"
};

}  // namespace

std::unique_ptr<Model> MakeModel(const std::string& plugin) {
  for (const auto& [name, make] : kDefinitions)
    if (plugin == name) return make();
  return nullptr;
}

}  // namespace velmor::reference
