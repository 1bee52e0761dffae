// The per-thread term cache: six tables of 256 records, one per evaluating thread.
//
// Callers hold the tree lock, which also serialises the table assignment and clearing.
#include <cstring>

#include "cond/cond_internal.h"
#include "cond/cond_output.h"
#include "vartree/tvar.h"

namespace {

// The table this thread was given last, by the object's serial and the assignment generation:
// the search below costs more than a warm numeric line. Serials are never reused, so a memo of
// a destroyed object matches no other.
struct TableMemo {
  uint64_t serial = 0;
  uint64_t generation = 0;
  std::array<OZK_CACHED_COND_TERMS, kCondCacheSlots>* table = nullptr;
};
thread_local TableMemo t_table_memo;

}  // namespace

std::array<OZK_CACHED_COND_TERMS, kCondCacheSlots>* CCondOutput::ThreadCacheTable() {
  TableMemo& memo = t_table_memo;
  if (memo.serial == serial_ && memo.generation == cache_generation_) return memo.table;
  memo = TableMemo{serial_, cache_generation_, FindThreadCacheTable()};
  return memo.table;
}

std::array<OZK_CACHED_COND_TERMS, kCondCacheSlots>* CCondOutput::FindThreadCacheTable() {
  const std::thread::id me = std::this_thread::get_id();
  for (int i = 0; i < kCondCacheThreads; ++i) {
    if (cache_threads_[i] == me) return cache_tables_[i].get();
  }
  for (int i = 0; i < kCondCacheThreads; ++i) {
    if (cache_threads_[i] == std::thread::id()) {
      cache_threads_[i] = me;
      if (!cache_tables_[i]) {
        cache_tables_[i] = std::make_unique<std::array<OZK_CACHED_COND_TERMS, kCondCacheSlots>>();
        std::memset(cache_tables_[i]->data(), 0, sizeof(*cache_tables_[i]));
      }
      return cache_tables_[i].get();
    }
  }
  return nullptr;  // a seventh thread parses without the cache
}

OZK_CACHED_COND_TERMS* CCondOutput::LookupCondCacheEntry(int slot) {
  if (slot < 0 || slot >= kCondCacheSlots) return nullptr;
  CtVarLock lock;
  auto* table = ThreadCacheTable();
  return table ? &(*table)[slot] : nullptr;
}

int CCondOutput::GetCondTermsFromCache(const char* text, OZK_COND_TERM* terms) {
  if (!text) return -1;
  CtVarLock lock;
  OZK_CACHED_COND_TERMS* rec = LookupCondCacheEntry(cond::CacheSlot(text));
  if (!rec || rec->length == 0 || std::strcmp(rec->source, text) != 0) return -1;
  if (!terms) {
    std::memset(rec, 0, sizeof(*rec));
    return -1;
  }
  std::memcpy(rec->working, rec->parsed, sizeof(rec->working));
  std::memcpy(terms, rec->terms, sizeof(OZK_COND_TERM) * rec->count);
  return static_cast<int>(rec->count);
}

OZK_CACHED_COND_TERMS* CCondOutput::AddCondTermCacheEntry(const char* text) {
  if (!text) return nullptr;
  const size_t len = std::strlen(text);
  if (len > static_cast<size_t>(kCondMaxCachedLine)) return nullptr;
  CtVarLock lock;
  OZK_CACHED_COND_TERMS* rec = LookupCondCacheEntry(cond::CacheSlot(text));
  if (!rec) return nullptr;
  std::memset(rec, 0, sizeof(*rec));
  rec->length = static_cast<uint32_t>(len + 1);
  rec->tape_steps = -1;  // no evaluation recorded yet
  std::memcpy(rec->source, text, len + 1);
  std::memcpy(rec->working, text, len + 1);
  return rec;
}

void CCondOutput::ClearFunctionCache() {
  CtVarLock lock;
  ++cache_generation_;  // every thread searches for its table again
  for (int i = 0; i < kCondCacheThreads; ++i) {
    cache_threads_[i] = std::thread::id();
    if (cache_tables_[i]) std::memset(cache_tables_[i]->data(), 0, sizeof(*cache_tables_[i]));
  }
}
