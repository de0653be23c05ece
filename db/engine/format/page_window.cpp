#include "db/engine/format/page_window.h"

namespace corvalin::engine {

void PageWindow::Cover(uint32_t n) {
  if (Holds(n)) return;
  const uint64_t writes = file_.write_count();
  if (writes != writes_) {
    // Saves go on: this row is read through the cache.
    count_ = 0;
    writes_ = writes;
    return;
  }
  const uint32_t size = file_.page_size();
  pages_.resize(kPages);
  uint8_t* buffers[kPages];
  for (size_t k = 0; k < kPages; ++k) {
    // A page a reader still holds keeps its bytes; the window takes another.
    std::shared_ptr<PageData>& page = pages_[k];
    if (!page || page.use_count() > 1 || page->size() != size)
      page = std::make_shared<PageData>(size);
    buffers[k] = page->data();
  }
  count_ = 0;
  first_ = n;
  // Fewer pages at the end of the file; none past it, where the file's own
  // Read names the page as damaged.
  count_ = file_.ReadOnce(n, buffers, kPages);
}

PagePtr PageWindow::Read(uint32_t n) {
  if (Holds(n)) return pages_[n - first_];
  return file_.Read(n);
}

}  // namespace corvalin::engine
