// The per-thread term cache: six tables of 256 records, one per evaluating thread.
//
// Callers hold the tree lock, which also serialises the table assignment and clearing. Finding
// a warm line and giving a thread its table belong to the warm path (cond_warm.cc).
#include <cstring>

#include "cond/cond_internal.h"
#include "cond/cond_output.h"
#include "vartree/tvar.h"

OZK_CACHED_COND_TERMS* CCondOutput::LookupCondCacheEntry(int slot) {
  if (slot < 0 || slot >= kCondCacheSlots) return nullptr;
  CtVarLock lock;
  CondCacheTable* table = ThreadCacheTable();
  return table ? &table->records[slot] : nullptr;
}

int CCondOutput::GetCondTermsFromCache(const char* text, OZK_COND_TERM* terms) {
  if (!text) return -1;
  CtVarLock lock;
  OZK_CACHED_COND_TERMS* rec = LookupCondCacheEntry(cond::CacheSlot(text));
  if (!rec || rec->length == 0 || std::strcmp(rec->source, text) != 0) return -1;
  if (!terms) {
    std::memset(rec, 0, sizeof(*rec));
    cache_generation_.store(cond::NewSerial(), std::memory_order_relaxed);
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
  cache_generation_.store(cond::NewSerial(), std::memory_order_relaxed);
  for (int i = 0; i < kCondCacheThreads; ++i) {
    cache_threads_[i] = std::thread::id();
    if (cache_tables_[i]) std::memset(cache_tables_[i].get(), 0, sizeof(CondCacheTable));
  }
}
