// The per-thread term cache: six tables of 256 records, one per evaluating thread.
//
// Callers hold the tree lock, which also serialises the table assignment and clearing.
#include <cstring>

#include "cond/cond_internal.h"
#include "cond/cond_output.h"
#include "vartree/tvar.h"

namespace {

constexpr int kRememberedLines = 32;

// The table this thread was given last, by the object's serial and the assignment generation,
// and the records its recent lines were found in, by the address of the line: the search for
// either costs more than a warm numeric line. Serials are never reused, so a memo of a destroyed
// object matches no other; a remembered record counts only while it still holds the same text.
struct TableMemo {
  uint64_t serial = 0;
  uint64_t generation = 0;
  std::array<OZK_CACHED_COND_TERMS, kCondCacheSlots>* table = nullptr;
  struct Line {
    const char* text = nullptr;
    OZK_CACHED_COND_TERMS* record = nullptr;
  } lines[kRememberedLines];
};
thread_local TableMemo t_table_memo;

// The calling thread's memo for the object, searched again after the assignment changed.
template <typename FindTable>
TableMemo& CurrentMemo(uint64_t serial, uint64_t generation, FindTable find_table) {
  TableMemo& memo = t_table_memo;
  if (memo.serial != serial || memo.generation != generation) {
    memo = TableMemo{serial, generation, find_table(), {}};
  }
  return memo;
}

size_t LineMemoSlot(const char* text) {
  const uint64_t h = reinterpret_cast<uintptr_t>(text) * UINT64_C(0x9E3779B97F4A7C15);
  return static_cast<size_t>(h >> 59) % kRememberedLines;
}

}  // namespace

std::array<OZK_CACHED_COND_TERMS, kCondCacheSlots>* CCondOutput::ThreadCacheTable() {
  return CurrentMemo(serial_, cache_generation_, [this] { return FindThreadCacheTable(); }).table;
}

OZK_CACHED_COND_TERMS* CCondOutput::FindCachedLine(const char* text, size_t* len) {
  TableMemo& memo =
      CurrentMemo(serial_, cache_generation_, [this] { return FindThreadCacheTable(); });
  auto* const table = memo.table;
  TableMemo::Line& remembered = memo.lines[LineMemoSlot(text)];
  if (table && remembered.text == text && remembered.record->length != 0 &&
      std::strcmp(remembered.record->source, text) == 0) {
    *len = remembered.record->length - 1;
    return remembered.record;
  }
  // One pass gives the length and the cache slot (the byte sum) of the line.
  unsigned sum = 0;
  const char* end = text;
  for (; *end; ++end) sum += static_cast<unsigned char>(*end);
  *len = static_cast<size_t>(end - text);
  if (!table || *len > static_cast<size_t>(kCondMaxCachedLine)) return nullptr;
  OZK_CACHED_COND_TERMS* rec = &(*table)[sum % kCondCacheSlots];
  if (rec->length != *len + 1 || std::memcmp(rec->source, text, *len) != 0) return nullptr;
  remembered = TableMemo::Line{text, rec};
  return rec;
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
