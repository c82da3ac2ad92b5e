// The equalizer's items in display order: each one's index in the item
// table at the end of equalizer.cpp and in a block's values.
#pragma once

namespace velmor::equalizer {

enum Item { kBand100, kBand200, kBand400, kBand800, kBand1600, kBand3200, kBand6400, kBand12800, kItemCount };

}  // namespace velmor::equalizer
