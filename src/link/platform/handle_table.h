// The open handles of a platform. Numbers are handed out once and never again, so a stale number
// stays dead instead of reaching another device. An entry is shared: a thread that looked it up
// (a reader inside a wait) keeps it alive, so closing from any thread never pulls it from under
// that user; the last one to let go destroys it, and with it the system's handle.
// `Entry::Shutdown()` ends whatever is outstanding on the entry; Close calls it outside the lock,
// so it may take its time or look other handles up.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "link/platform/hid_platform.h"

namespace zrv {

template <typename Entry>
class HandleTable {
 public:
  HidHandle Add(std::shared_ptr<Entry> entry) {
    std::lock_guard lock(mutex_);
    const HidHandle id = next_++;
    entries_.emplace(id, std::move(entry));
    return id;
  }

  std::shared_ptr<Entry> Find(HidHandle handle) const {
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(handle);
    return it == entries_.end() ? nullptr : it->second;
  }

  // The first open entry for which `match(const Entry&)` holds, or none.
  template <typename Match>
  std::shared_ptr<Entry> FindIf(Match match) const {
    std::lock_guard lock(mutex_);
    for (const auto& [id, entry] : entries_) {
      if (match(*entry)) return entry;
    }
    return nullptr;
  }

  // Unknown and already closed numbers are ignored.
  void Close(HidHandle handle) {
    std::shared_ptr<Entry> entry;
    {
      std::lock_guard lock(mutex_);
      const auto it = entries_.find(handle);
      if (it == entries_.end()) return;
      entry = std::move(it->second);
      entries_.erase(it);
    }
    entry->Shutdown();
  }

  void CloseAll() {
    std::unordered_map<HidHandle, std::shared_ptr<Entry>> entries;
    {
      std::lock_guard lock(mutex_);
      entries.swap(entries_);
    }
    for (auto& [id, entry] : entries) entry->Shutdown();
  }

  std::size_t Size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::unordered_map<HidHandle, std::shared_ptr<Entry>> entries_;
  HidHandle next_ = 1;
};

}  // namespace zrv
