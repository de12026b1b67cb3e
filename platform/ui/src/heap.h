// The process heap on transparent huge pages, where the system offers them.
#pragma once

namespace ui::detail {

// Blocks of up to 32 MB come from the heap instead of mappings of their own,
// and the next 24 MB of heap are advised for huge pages. A list of 100,000
// users then takes a few 2 MB page faults instead of thousands of 4 KB ones,
// which cost several microseconds each in a virtual machine. Untouched, the
// reserve costs no memory. True when the reserve was advised. Where huge
// pages are not on offer, malloc is left as it was.
bool useHugePageHeap();

}  // namespace ui::detail
