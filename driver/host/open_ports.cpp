// The record of open ports; see open_ports.h. A fixed table: when it is full
// a port is simply not recorded, and a repeated cold start then leaves it as
// it is.

#include "host/open_ports.h"

#include <array>
#include <mutex>

namespace lorvant {
namespace {

struct Entry {
  const ChannelContext* channel = nullptr;
  void* handle = nullptr;
};

constexpr std::size_t kEntries = 256;

std::mutex& Guard() {
  static std::mutex guard;
  return guard;
}

std::array<Entry, kEntries>& Entries() {
  static std::array<Entry, kEntries> entries{};
  return entries;
}

Entry* Find(const ChannelContext* channel) {
  for (Entry& entry : Entries()) {
    if (entry.channel == channel) {
      return &entry;
    }
  }
  return nullptr;
}

}  // namespace

void RememberPort(const ChannelContext* channel, void* handle) {
  const std::scoped_lock lock(Guard());
  Entry* entry = Find(channel);
  if (entry == nullptr) {
    entry = Find(nullptr);
  }
  if (entry != nullptr) {
    *entry = Entry{channel, handle};
  }
}

void ForgetPort(const ChannelContext* channel) {
  const std::scoped_lock lock(Guard());
  if (Entry* entry = Find(channel)) {
    *entry = Entry{};
  }
}

bool HoldsPort(const ChannelContext* channel, void* handle) {
  const std::scoped_lock lock(Guard());
  const Entry* entry = Find(channel);
  return entry != nullptr && handle != nullptr && entry->handle == handle;
}

}  // namespace lorvant
