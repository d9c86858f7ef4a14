// A query's answer: its covers, each the indices of its blocks in order of choice, kept flat
// so that a long enumeration makes two allocations that grow, not one per cover.
#pragma once

#include "../flat_lists.hpp"

namespace xcover {

using CoverList = FlatLists;

}  // namespace xcover
