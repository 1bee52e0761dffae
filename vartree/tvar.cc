#include "vartree/tvar.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/format.h"
#include "platform/mutex.h"
#include "platform/text.h"
#include "vartree/child_index.h"

OZK_IMPLEMENT_RUNTIME_CLASS(CtVar, COzkObject)

namespace {

std::atomic<int64_t> g_live_nodes{0};
std::atomic<uint64_t> g_layout_epoch{0};

void LayoutChanged() {
  g_layout_epoch.fetch_add(1, std::memory_order_relaxed);
}

bool StartsWithDigit(std::string_view s) {
  return !s.empty() && s[0] >= '0' && s[0] <= '9';
}

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The number a name stands for in numeric ordering: its leading digits (atoi-like).
long long NameNumber(std::string_view s) {
  long long n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') break;
    n = n * 10 + (c - '0');
    if (n > 1'000'000'000'000LL) break;
  }
  return n;
}

bool IsMixedStart(std::string_view s) {
  return s.size() >= 2 && static_cast<unsigned char>(s[0]) == 0xFF &&
         static_cast<unsigned char>(s[1]) == 0xFE;
}

// The first "." or "[" of a path, or npos.
size_t FindSeparator(std::string_view path) {
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '.' || path[i] == '[') return i;
  }
  return std::string_view::npos;
}

// The length of the next path component (up to the first "." or "[", or all of path) and, in
// the same pass, the index hash of its name as cut to the longest name.
size_t ScanComponent(std::string_view path, uint32_t* hash) {
  uint32_t h = CtVarChildIndex::kHashSeed;
  size_t i = 0;
  for (; i < path.size() && path[i] != '.' && path[i] != '['; ++i) {
    if (i < kTVarMaxNameLength) h = CtVarChildIndex::HashStep(h, path[i]);
  }
  *hash = h;
  return i;
}

// Whole-number test and truncation that stay defined for NaN, infinities and huge values.
bool IsIntegral(double v) {
  return std::isfinite(v) && std::trunc(v) == v;
}

long long TruncateClamped(double v) {
  if (!(v == v)) return 0;
  if (v >= 9e18) return 9'000'000'000'000'000'000LL;
  if (v <= -9e18) return -9'000'000'000'000'000'000LL;
  return static_cast<long long>(v);
}

std::string_view CutName(std::string_view s) {
  return s.size() > kTVarMaxNameLength ? s.substr(0, kTVarMaxNameLength) : s;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction

CtVar::CtVar() {
  ++g_live_nodes;
}

CtVar::CtVar(const char* name, CtVar* parent, CtVar* next) : next_(next), parent_(parent) {
  ++g_live_nodes;
  LayoutChanged();
  if (name) SetInitialName(port::MixedTextView(name));
  if (parent_) InitFromParent();
}

CtVar::CtVar(std::string_view name, CtVar* parent) : parent_(parent) {
  ++g_live_nodes;
  LayoutChanged();
  SetInitialName(name);
  InitFromParent();
}

void CtVar::SetInitialName(std::string_view name) {
  if (!name.empty() && name.back() == ']') name.remove_suffix(1);
  SetNameStorage(name);
  const std::string_view stored = NameView();
  if (port::EqualsNoCase(stored, "Passed")) number_ = 1;
  if (port::EqualsNoCase(stored, "Recycled")) number_ = 2;
  if (port::EqualsNoCase(stored, "Rejected")) number_ = 3;
}

void CtVar::InitFromParent() {
  options_ |= parent_->options_ & TVAR_OPT_INHERITED;
  SetStoredKind(type_, parent_->remote_);
  parked_remote_ = parent_->parked_remote_;
  std::string dest;
  uint32_t reg = 0, count = 0;
  if (parent_->IsAttachedToDest(&dest, &reg, &count)) {
    const std::string_view n = NameView();
    if (AllDigits(n)) reg += static_cast<uint32_t>(NameNumber(n));
    AttachToDestination(dest.c_str(), reg, count);
  }
}

CtVar::CtVar(CtVar& other) {
  ++g_live_nodes;
  *this = other;
}

CtVar::~CtVar() {
  // Readers without the lock see a deletion through the lock's sequence and the epoch.
  CtVarLock lock;
  while (first_child_) delete first_child_;  // each child unlinks itself
  if (parent_) parent_->UnlinkChild(this);
  --g_live_nodes;
  StructureChanged();
  LayoutChanged();
}

uint64_t CtVar::LayoutEpoch() {
  return g_layout_epoch.load(std::memory_order_relaxed);
}

void CtVar::SetOptionBits(uint32_t options) {
  if ((options ^ options_) & ~TVAR_OPT_RESULT_MASK) LayoutChanged();
  options_ = options;
}

int64_t CtVar::LiveCount() {
  return g_live_nodes.load();
}

void CtVar::SetNameStorage(std::string_view name) {
  std::string stored = port::FindMixedMark(name) == std::string_view::npos
                           ? std::string(name)
                           : port::MixedToUtf8(name);
  name_ = std::move(stored);
  named_ = true;
}

// ---------------------------------------------------------------------------------------------
// Child list

void CtVar::LinkChild(CtVar* child, CtVar* before) {
  child->parent_ = this;
  if (!before) {
    child->next_ = nullptr;
    if (last_child_) {
      last_child_->next_ = child;
    } else {
      first_child_ = child;
    }
    last_child_ = child;
  } else {
    child->next_ = before;
    if (first_child_ == before) {
      first_child_ = child;
    } else {
      CtVar* p = first_child_;
      while (p->next_ != before) p = p->next_;
      p->next_ = child;
    }
  }
  ++child_count_;
  if (index_.Active()) {
    index_.Added(this, child);
  } else if (child_count_ >= CtVarChildIndex::kMinChildren) {
    index_.Build(this);
  }
}

void CtVar::UnlinkChild(CtVar* child) {
  if (index_.Active()) index_.Removed(this, child);
  CtVar* prev = nullptr;
  for (CtVar* p = first_child_; p; prev = p, p = p->next_) {
    if (p != child) continue;
    (prev ? prev->next_ : first_child_) = p->next_;
    if (last_child_ == p) last_child_ = prev;
    --child_count_;
    break;
  }
  child->parent_ = nullptr;
  child->next_ = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Values

const char* CtVar::TextValue() const {
  return value_.empty() ? nullptr : reinterpret_cast<const char*>(value_.data());
}

void CtVar::StoreText(std::string_view text) {
  std::string converted;
  if (port::FindMixedMark(text) != std::string_view::npos) {
    converted = port::MixedToUtf8(text);
    text = converted;
  }
  const size_t needed = text.size() + 2;
  if (value_.size() < needed) value_.assign(needed, 0);
  std::memcpy(value_.data(), text.data(), text.size());
  value_[text.size()] = 0;
}

void CtVar::TerminateText() {
  if ((type_ != OZK_TVAR_STRING && type_ != OZK_TVAR_DEST) || value_.empty()) return;
  if (std::memchr(value_.data(), 0, value_.size()) == nullptr) value_.push_back(0);
}

void CtVar::WriteLinked() {
  if (remote_) WriteRemote(this);
}

CtVar& CtVar::operator=(double value) {
  CtVarLock lock;
  if (type_ == OZK_TVAR_DEST) {
    WriteAttachedDest(value);
    return *this;
  }
  number_ = value;
  SetStoredKind(OZK_TVAR_DOUBLE, remote_);
  value_.clear();
  value_.shrink_to_fit();
  WriteLinked();
  return *this;
}

CtVar& CtVar::operator=(const char* text) {
  CtVarLock lock;
  if (type_ == OZK_TVAR_DEST) {
    WriteAttachedDest(text);
    return *this;
  }
  if (text) return *this = port::MixedTextView(text);
  value_.clear();
  value_.shrink_to_fit();
  number_ = 0;
  SetStoredKind(OZK_TVAR_STRING, remote_);
  WriteLinked();
  return *this;
}

CtVar& CtVar::operator=(std::string_view text) {
  CtVarLock lock;
  if (type_ == OZK_TVAR_DEST) {
    WriteAttachedDest(std::string(text).c_str());
    return *this;
  }
  StoreText(text);
  number_ = 0;
  SetStoredKind(OZK_TVAR_STRING, remote_);
  WriteLinked();
  return *this;
}

CtVar& CtVar::operator+=(const char* text) {
  if (!text) return *this;
  CtVarLock lock;
  if (type_ == OZK_TVAR_DEST) return *this;
  std::string current;
  if (type_ == OZK_TVAR_STRING && TextValue()) {
    current.assign(TextValue(), strnlen(TextValue(), value_.size()));
  }
  const std::string_view arg = port::MixedTextView(text);
  const bool both_wide = IsMixedStart(current) && IsMixedStart(arg);
  current = port::MixedToUtf8(current);
  std::string joined;
  if (both_wide) {
    // The argument's UTF-16 tail continues the (converted) wide text.
    joined = current + port::MixedToUtf8(std::string("\xFF\xFE", 2) + std::string(arg.substr(2)));
  } else {
    joined = current + std::string(arg);
  }
  value_.assign(joined.size() + 2, 0);
  std::memcpy(value_.data(), joined.data(), joined.size());
  number_ = 0;
  SetStoredKind(OZK_TVAR_STRING, remote_);
  WriteLinked();
  return *this;
}

void CtVar::SetData(const uint8_t* data, uint32_t size) {
  CtVarLock lock;
  if (type_ == OZK_TVAR_DEST) return;
  if (!data || size == 0) {
    value_.clear();
    value_.shrink_to_fit();
  } else {
    value_.assign(data, data + size);
  }
  number_ = 0;
  SetStoredKind(OZK_TVAR_DATA, remote_);
  WriteLinked();
}

CtVar& CtVar::operator=(CtVar& other) {
  if (&other == this) return *this;
  CtVarLock lock;
  // Copying a node into its own subtree would feed the copy with itself: copy a snapshot.
  for (CtVar* p = parent_; p; p = p->parent_) {
    if (p == &other) {
      CtVar snapshot(other);
      return *this = snapshot;
    }
  }
  if (remote_) {
    other.ReadRemote();
    WriteRemote(&other);
  }
  const uint32_t source_type = other.type_;
  switch (source_type) {
    case OZK_TVAR_DOUBLE:
    case OZK_TVAR_INT:
      number_ = other.number_;
      break;
    case OZK_TVAR_STRING:
      if (type_ != OZK_TVAR_DEST) {
        if (other.TextValue()) {
          value_ = other.value_;
        } else {
          value_.clear();
        }
        number_ = 0;
      }
      break;
    case OZK_TVAR_DATA:
      if (type_ != OZK_TVAR_DEST) value_ = other.value_, number_ = 0;
      break;
    case OZK_TVAR_DEST:
      number_ = other.ReadAttachedDest();
      break;
    default:
      break;
  }
  if (type_ != OZK_TVAR_DEST && source_type != OZK_TVAR_DEST) {
    SetStoredKind(source_type, remote_);
    format_ = other.format_;
  }
  if (type_ == OZK_TVAR_DEST) WriteAttachedDest(number_);
  for (CtVar* c = other.first_child_; c; c = c->next_) {
    CtVar* target = FindOrCreate(c->NameView(), 0, 1, 0);
    if (target && target != this) *target = *c;
  }
  return *this;
}

CtVar::operator double() {
  CtVarLock lock;
  if (remote_) ReadRemote();
  if (type_ == OZK_TVAR_DEST && !remote_) number_ = ReadAttachedDest();
  return number_;
}

CtVar::operator float() {
  return static_cast<float>(static_cast<double>(*this));
}

CtVar::operator long() {
  const double v = static_cast<double>(*this);
  if (!(v == v)) return 0;
  if (v >= static_cast<double>(LONG_MAX)) return LONG_MAX;
  if (v <= static_cast<double>(LONG_MIN)) return LONG_MIN;
  return static_cast<long>(v);
}

CtVar::operator const char*() {
  CtVarLock lock;
  if (remote_) ReadRemote();
  if (type_ == OZK_TVAR_DEST && !remote_) {
    thread_local std::string dest_text;
    dest_text = ReadAttachedDestString();
    return dest_text.c_str();
  }
  if (type_ == OZK_TVAR_NONE) return nullptr;
  return TextValue();
}

CtVar::operator std::wstring() {
  const char* text = static_cast<const char*>(*this);
  if (!text) return std::wstring();
  const size_t len =
      (type_ == OZK_TVAR_DEST && !remote_) ? std::strlen(text) : strnlen(text, value_.size());
  return port::MixedToWide(std::string_view(text, len));
}

const uint8_t* CtVar::GetData(uint32_t* size) {
  CtVarLock lock;
  if (remote_) ReadRemote();
  if (size) *size = static_cast<uint32_t>(value_.size());
  return value_.empty() ? nullptr : value_.data();
}

uint32_t CtVar::GetType() {
  CtVarLock lock;
  if (type_ == OZK_TVAR_DOUBLE) {
    return IsIntegral(number_) ? OZK_TVAR_INT : OZK_TVAR_DOUBLE;
  }
  if (type_ == OZK_TVAR_DEST) {
    XTVarDests* dests = GetAppDest();
    return dests ? dests->GetRegisterType(this) : 0;
  }
  return type_;
}

bool CtVar::IsNumber() const {
  return StartsWithDigit(NameView());
}

std::string CtVar::GetValueStr() {
  CtVarLock lock;
  std::string out;
  const std::string_view format(format_.data(), strnlen(format_.data(), format_.size()));
  switch (type_) {
    case OZK_TVAR_DOUBLE:
      if (port::EqualsNoCase(NameView(), "Result")) {
        if (number_ == 1) out = "Passed";
        if (number_ == 2) out = "Recycled";
        if (number_ == 3) out = "Rejected";
      } else if (format.empty() || !port::FormatNumber(format, number_, &out)) {
        port::FormatNumber("%4.2f", number_, &out);
      }
      break;
    case OZK_TVAR_INT: {
      const double truncated = static_cast<double>(TruncateClamped(number_));
      if (format.empty() || !port::FormatNumber(format, truncated, &out)) {
        port::FormatNumber("%d", truncated, &out);
      }
      break;
    }
    case OZK_TVAR_STRING:
    case OZK_TVAR_DEST:
      if (TextValue()) out.assign(TextValue(), strnlen(TextValue(), value_.size()));
      break;
    default:
      break;
  }
  return out;
}

std::string CtVar::GetFormat() {
  CtVarLock lock;
  if (remote_) ReadRemote();
  return std::string(format_.data(), strnlen(format_.data(), format_.size()));
}

int CtVar::SetFormat(const char* format) {
  if (!format || std::strlen(format) >= kTVarFormatSize) return 0;
  CtVarLock lock;
  if (remote_) ReadRemote();
  format_.fill(0);
  std::memcpy(format_.data(), format, std::strlen(format));
  WriteLinked();
  return 1;
}

void CtVar::SetUnits(const wchar_t* units) {
  CtVarLock lock;
  units_ = units ? std::make_unique<std::wstring>(units) : nullptr;
}

VAR_RESULT_TYPE CtVar::GetResult() const {
  return static_cast<VAR_RESULT_TYPE>((options_ & TVAR_OPT_RESULT_MASK) >> 4);
}

void CtVar::SetResult(VAR_RESULT_TYPE result) {
  options_ = (options_ & ~TVAR_OPT_RESULT_MASK) | ((static_cast<uint32_t>(result) & 0xF) << 4);
}

REJECTOR_RESULT CtVar::GetState() const {
  switch (GetResult()) {
    case VAR_RESULT_PASSED:
      return REJECTOR_PASSED;
    case VAR_RESULT_RECYCLED:
      return REJECTOR_RECYCLED;
    case VAR_RESULT_REJECTED:
      return REJECTOR_REJECTED;
    default:
      return REJECTOR_NONE;
  }
}

void CtVar::SetState(REJECTOR_RESULT state) {
  switch (state) {
    case REJECTOR_PASSED:
      SetResult(VAR_RESULT_PASSED);
      break;
    case REJECTOR_RECYCLED:
      SetResult(VAR_RESULT_RECYCLED);
      break;
    case REJECTOR_REJECTED:
      SetResult(VAR_RESULT_REJECTED);
      break;
    default:
      SetResult(VAR_RESULT_NONE);
      break;
  }
}

void CtVar::SetOptions(uint32_t bits, int recursive) {
  CtVarLock lock;
  SetOptionBits(options_ | bits);
  if (recursive) {
    for (CtVar* c = first_child_; c; c = c->next_) c->SetOptions(bits, recursive);
  }
}

void CtVar::ClearOptions(uint32_t bits, int recursive) {
  CtVarLock lock;
  SetOptionBits(options_ & ~bits);
  if (recursive) {
    for (CtVar* c = first_child_; c; c = c->next_) c->ClearOptions(bits, recursive);
  }
}

// ---------------------------------------------------------------------------------------------
// Navigation

CtVar* CtVar::GetParent(const char* name) {
  if (!name) return nullptr;
  CtVarLock lock;
  for (CtVar* p = this; p && p->named_; p = p->parent_) {
    if (port::EqualsNoCase(p->NameView(), name)) return p;
  }
  return nullptr;
}

CtVar* CtVar::GetTreeRoot() {
  CtVarLock lock;
  CtVar* p = this;
  while (p->parent_) p = p->parent_;
  return p;
}

int CtVar::GetIndex() const {
  if (!parent_) return 0;
  CtVarLock lock;
  int i = 0;
  for (CtVar* c = parent_->first_child_; c && c != this; c = c->next_) ++i;
  return i;
}

int CtVar::GetArrayDimension() const {
  CtVarLock lock;
  int n = 0;
  for (CtVar* c = first_child_; c; c = c->next_) n += c->IsNumber() ? 1 : 0;
  return n;
}

uint32_t CtVar::GetNumChildren() {
  if (remote_) return remote_->GetNumChildren(GetVarFullName(1));
  CtVarLock lock;
  return child_count_;
}

int CtVar::GenerationsTo(const char* name) const {
  CtVarLock lock;
  int steps = 0;
  if (!name) {
    for (CtVar* p = parent_; p; p = p->parent_) ++steps;
    return steps;
  }
  for (CtVar* p = parent_; p && p->named_; p = p->parent_) {
    ++steps;
    if (port::EqualsNoCase(p->NameView(), name)) return steps;
  }
  return steps;
}

CtVar* CtVar::GetNextChild(CtVar* prev, int refresh) {
  CtVarLock lock;
  if (prev) return prev->parent_ == this ? prev->next_ : nullptr;
  if (refresh && remote_ && parent_ && !parent_->parent_) {
    if (!AnyChildHasRef()) {
      while (first_child_) delete first_child_;
    }
    ReadTreeRemote();
  }
  return first_child_;
}

XTVarDests* CtVar::GetAppDest() const {
  if (remote_) return remote_->GetAppDest();
  if (parked_remote_) return parked_remote_->GetAppDest();
  return XTVarDests::Current();
}

std::string CtVar::GetVarFullName(int with_top) const {
  CtVarLock lock;
  std::vector<const CtVar*> chain;
  for (const CtVar* p = this; p && p->named_; p = p->parent_) chain.push_back(p);
  // The top component is the ancestor right below the (unnamed) root.
  if (!with_top && !chain.empty() && chain.back()->parent_) chain.pop_back();
  std::string out;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!out.empty()) out += '.';
    out += (*it)->NameView();
  }
  return out;
}

std::wstring CtVar::GetVarName() const {
  return port::MixedToWide(NameView());
}

// ---------------------------------------------------------------------------------------------
// Lookup and creation

CtVar* CtVar::FindChild(std::string_view component) {
  return FindChild(component, CtVarChildIndex::Hash(component));
}

CtVar* CtVar::FindChild(std::string_view component, uint32_t hash) {
  if (index_.Active()) return index_.Find(component, hash);
  for (CtVar* c = first_child_; c; c = c->next_) {
    if (port::EqualsNoCase(c->NameView(), component)) return c;
  }
  return nullptr;
}

CtVar* CtVar::CreateChild(std::string_view component, int append) {
  CtVar* before = nullptr;
  if (!append && first_child_ && StartsWithDigit(component) &&
      !(options_ & TVAR_OPT_NO_NUMERIC_ORDER)) {
    const long long number = NameNumber(component);
    if (number < NameNumber(last_child_->NameView())) {
      long long best = 1'000'000;
      for (CtVar* c = first_child_; c; c = c->next_) {
        const long long diff = NameNumber(c->NameView()) - number;
        if (diff > 0 && diff < best) best = diff, before = c;
      }
    }
  }
  auto* child = new CtVar(component, this);
  LinkChild(child, before);
  return child;
}

void CtVar::ResolveIndirect(std::string& component) const {
  CtVar* app = const_cast<CtVar*>(this)->GetParent("AppVar");
  if (!app) return;
  CtVar* var = app->FindOrCreate(component, 0, 0, 0);
  if (!var || var == app || var->type_ == OZK_TVAR_STRING) return;
  component = std::to_string(TruncateClamped(static_cast<double>(*var)));
}

CtVar* CtVar::GetChild(const char* name, int len, int create, int append) {
  return FindOrCreate(port::MixedTextView(name), len, create, append);
}

CtVar* CtVar::GetChild(std::string_view name, int len, int create, int append) {
  return FindOrCreate(name, len, create, append);
}

CtVar* CtVar::FindOrCreate(std::string_view path, int len, int create, int append) {
  if (path.empty()) return this;
  CtVarLock lock;
  CtVar* node = this;
  if (len > 0 && static_cast<size_t>(len) < path.size() && create) path = path.substr(0, len);
  bool after_bracket = false;
  for (;;) {
    std::string_view component = path;
    std::string_view rest;
    bool rest_after_bracket = false;
    uint32_t hash = 0;
    bool hashed = false;  // hash belongs to component
    if (!create) {
      const size_t sep = ScanComponent(path, &hash);
      hashed = true;
      if (sep < path.size()) {
        component = path.substr(0, sep);
        rest = path.substr(sep + 1);
        rest_after_bracket = path[sep] == '[';
      } else if (len > 0 && static_cast<size_t>(len) < path.size() && node == this) {
        component = path.substr(0, len);
        hashed = false;
      }
    }
    component = CutName(component);
    // Only a bracketed or mixed component needs a copy of its own; a plain one is used in place.
    std::string rewritten;
    std::string_view resolved = component;
    if (!resolved.empty() && resolved.back() == ']') {
      rewritten = resolved.substr(0, resolved.size() - 1);
      hashed = false;
      if (after_bracket && !StartsWithDigit(rewritten)) node->ResolveIndirect(rewritten);
      resolved = rewritten;
    }
    CtVar* found = nullptr;
    if (!append) {
      found = hashed ? node->FindChild(resolved, hash) : node->FindChild(resolved);
      if (!found && IsMixedStart(resolved)) {
        rewritten = std::string(CutName(port::MixedToUtf8(resolved)));
        resolved = rewritten;
        found = node->FindChild(resolved);
      }
    }
    if (!found) {
      if (create) return node->CreateChild(resolved, append);
      // An empty component, or the node's own name, stands for the node itself.
      if (!resolved.empty() && !port::EqualsNoCase(node->NameView(), resolved)) return nullptr;
      found = node;
    }
    if (rest.empty()) return found;
    node = found;
    path = rest;
    after_bracket = rest_after_bracket;
  }
}

CtVar& CtVar::operator[](const char* path) {
  return Walk(port::MixedTextView(path));
}

CtVar& CtVar::operator[](std::string_view path) {
  return Walk(path);
}

CtVar& CtVar::Walk(std::string_view rest) {
  CtVarLock lock;
  CtVar* node = this;
  bool after_bracket = false;
  while (!rest.empty()) {
    if (rest[0] == ']') {
      rest.remove_prefix(1);
      continue;
    }
    uint32_t hash;
    const size_t length = ScanComponent(rest, &hash);
    const size_t sep = length < rest.size() ? length : std::string_view::npos;
    const std::string_view component = CutName(rest.substr(0, length));
    if (!component.empty() && component.back() != ']' && !IsMixedStart(component)) {
      // The common step: a plain name, looked up without copying it.
      CtVar* found = node->FindChild(component, hash);
      node = found ? found : node->CreateChild(component, 0);
    } else if (!component.empty()) {
      std::string name(component);
      if (name.back() == ']') {
        name.pop_back();
        if (after_bracket && !StartsWithDigit(name)) node->ResolveIndirect(name);
      }
      CtVar* found = node->FindChild(name);
      if (!found && IsMixedStart(name)) {
        name = std::string(CutName(port::MixedToUtf8(name)));
        found = node->FindChild(name);
      }
      node = found ? found : node->CreateChild(name, 0);
    }
    if (sep == std::string_view::npos) break;
    after_bracket = rest[sep] == '[';
    rest.remove_prefix(sep + 1);
  }
  return *node;
}

CtVar& CtVar::operator[](int index) {
  const std::string name = std::to_string(index);
  return *FindOrCreate(name, 0, 1, 0);
}

CtVar* CtVar::Index(const char* path, int create) {
  return path ? Index(port::MixedTextView(path), create) : nullptr;
}

CtVar* CtVar::Index(std::string_view p, int create) {
  CtVarLock lock;
  const size_t sep = FindSeparator(p);
  const std::string_view first = p.substr(0, sep);
  CtVar* node = first.empty() ? this : FindOrCreate(first, 0, create, 0);
  if (!node || (!create && node == this && !first.empty())) {
    // Without create, GetChild lets a node stand for its own name; Index wants a child.
    if (!node || !FindChild(first)) return nullptr;
    node = FindChild(first);
  }
  if (sep == std::string_view::npos) return node;
  return &node->Walk(p.substr(sep));
}

CtVar* CtVar::GetAt(const char* name, int cameras, int camera, int create) {
  if (!name) return nullptr;
  if (cameras > 1 && !std::strstr(name, "Camera ")) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "Camera %02d.", camera + 1);
    const std::string path = prefix + std::string(name);
    return Index(std::string_view(path), create);
  }
  return Index(name, create);
}

std::string CtVar::UniqueChildName() const {
  CtVarLock lock;
  long long largest = 0;
  for (CtVar* c = first_child_; c; c = c->next_)
    largest = std::max(largest, NameNumber(c->NameView()));
  return std::to_string(largest + 1);
}

// ---------------------------------------------------------------------------------------------
// Structure

int CtVar::Rename(const char* new_name) {
  if (!named_ || !new_name) return 0;
  CtVarLock lock;
  const std::string old_full = remote_ ? GetVarFullName(1) : std::string();
  if (parent_ && parent_->index_.Active()) parent_->index_.Removed(parent_, this);
  SetNameStorage(port::MixedTextView(new_name));
  StructureChanged();
  LayoutChanged();
  if (parent_ && parent_->index_.Active()) parent_->index_.Added(parent_, this);
  if (remote_) return remote_->Rename(old_full, new_name);
  return 1;
}

int CtVar::MoveUp() {
  CtVarLock lock;
  if (!parent_ || parent_->first_child_ == this) return 1;
  CtVar* prev = parent_->first_child_;
  while (prev->next_ != this) prev = prev->next_;
  CtVar* parent = parent_;
  parent->UnlinkChild(this);
  parent->LinkChild(this, prev);
  if (parent->index_.Active()) parent->index_.Reordered(parent, this);
  if (remote_) remote_->MoveUp(GetVarFullName(1));
  return 1;
}

int CtVar::MoveDown() {
  CtVarLock lock;
  if (!parent_ || !next_) return 1;
  CtVar* after = next_;
  CtVar* parent = parent_;
  parent->UnlinkChild(this);
  parent->LinkChild(this, after->next_);
  if (parent->index_.Active()) parent->index_.Reordered(parent, this);
  if (remote_) remote_->MoveDown(GetVarFullName(1));
  return 1;
}

int CtVar::PlaceAfter(CtVar* after) {
  CtVarLock lock;
  if (!parent_ || after == this || (after && after->parent_ != parent_)) return 0;
  CtVar* parent = parent_;
  parent->UnlinkChild(this);
  parent->LinkChild(this, after ? after->next_ : parent->first_child_);
  if (parent->index_.Active()) parent->index_.Reordered(parent, this);
  if (remote_) remote_->PlaceAfter(GetVarFullName(1), after ? after->GetVarFullName(1) : "");
  return 1;
}

uint32_t CtVar::AddRef() {
  CtVarLock lock;
  return ++ref_count_;
}

uint32_t CtVar::Release(uint32_t n, int remote, int destroy, uint32_t detach_arg) {
  port::RecursiveMutex* tree_lock = GetTreeLock();
  tree_lock->Enter();
  ref_count_ = n >= ref_count_ ? 0 : ref_count_ - n;
  if (ref_count_ != 0) {
    const uint32_t left = ref_count_;
    tree_lock->Leave();
    return left;
  }
  uint32_t remote_count = 0;
  if (remote && remote_) remote_count = remote_->Release(GetVarFullName(1), 0);
  if (!destroy || remote_count != 0) {
    tree_lock->Leave();
    return remote_count;
  }
  if (!AnyChildHasRef()) {
    std::string dest;
    XTVarDests* dests = type_ == OZK_TVAR_DEST ? GetAppDest() : nullptr;
    if (dests && IsAttachedToDest(&dest) && !dest.empty()) {
      tree_lock->Leave();
      dests->DetachVar(dest.c_str(), this, detach_arg);
      tree_lock->Enter();
    }
    delete this;
  }
  tree_lock->Leave();
  return remote_count;
}

uint32_t CtVar::GetRefCount(int remote) {
  uint32_t count;
  {
    CtVarLock lock;
    count = ref_count_;
  }
  if (remote && remote_) count += remote_->GetRefCount(GetVarFullName(1));
  return count;
}

bool CtVar::AnyChildHasRef() const {
  CtVarLock lock;
  for (CtVar* c = first_child_; c; c = c->next_) {
    if (c->ref_count_ || c->AnyChildHasRef()) return true;
  }
  return false;
}

void CtVar::ReleaseChildren(const char* keep, bool numeric_only, int remote, int destroy) {
  CtVarLock lock;
  CtVar* c = first_child_;
  while (c) {
    CtVar* next = c->next_;
    bool kept = numeric_only && !c->IsNumber();
    for (const char* k = keep; !kept && k && *k; k += std::strlen(k) + 1) {
      kept = port::EqualsNoCase(c->NameView(), k);
    }
    if (!kept) {
      c->options_ &= ~TVAR_OPT_SYSTEM;
      c->Release(1, remote, destroy, 1);
    }
    c = next;
  }
}

void CtVar::RemoveAllChildren(const char* keep, int remote, int destroy) {
  ReleaseChildren(keep, false, remote, destroy);
}

void CtVar::RemoveAllNumericChildren(int remote, int destroy) {
  ReleaseChildren(nullptr, true, remote, destroy);
}

bool CtVar::IsSameTreeStructureAs(const CtVar* other) const {
  if (!other) return false;
  CtVarLock lock;
  auto names_match = [](const CtVar* a, const CtVar* b) {
    if (!a->named_ && !b->named_) return true;
    if (!a->named_) return port::EqualsNoCase(b->NameView(), "AppVar");
    if (!b->named_) return port::EqualsNoCase(a->NameView(), "AppVar");
    return port::EqualsNoCase(a->NameView(), b->NameView());
  };
  if (!names_match(this, other) || child_count_ != other->child_count_) return false;
  for (CtVar *a = first_child_, *b = other->first_child_; a && b; a = a->next_, b = b->next_) {
    if (!a->IsSameTreeStructureAs(b)) return false;
  }
  return true;
}

int CtVar::Lock(uint32_t timeout_ms, int remote) {
  GetTreeLock()->Enter();
  if (remote && remote_) remote_->Lock(GetVarFullName(1), timeout_ms);
  return 1;
}

int CtVar::UnLock(int remote) {
  GetTreeLock()->Leave();
  if (remote && remote_) remote_->UnLock(GetVarFullName(1));
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Destination attachment

void CtVar::SetDestCmpts(const char* dest, uint32_t reg, uint32_t count) {
  const std::string text =
      std::string(dest ? dest : "") + ":" + std::to_string(reg) + ":" + std::to_string(count);
  value_.assign(text.size() + 1, 0);
  std::memcpy(value_.data(), text.data(), text.size());
}

int CtVar::AttachToDestination(const char* dest, uint32_t reg, uint32_t count) {
  CtVarLock lock;
  XTVarDests* dests = GetAppDest();
  std::string old_dest;
  if (IsAttachedToDest(&old_dest) && dests && !port::EqualsNoCase(old_dest, dest ? dest : "")) {
    dests->DetachVar(old_dest.c_str(), this, 0);
  }
  SetStoredKind(OZK_TVAR_DEST, remote_);
  SetDestCmpts(dest, reg, count);
  WriteLinked();
  if (!(options_ & TVAR_OPT_NO_DEST_REGISTER) && dests) dests->AttachVar(dest ? dest : "", this);
  return 1;
}

void CtVar::DestCmpts(std::string_view text, std::string* dest, uint32_t* reg, uint32_t* count) {
  const size_t zero = text.find('\0');
  if (zero != std::string_view::npos) text = text.substr(0, zero);
  const size_t colon = text.find(':');
  if (dest) *dest = std::string(text.substr(0, colon));
  auto parse = [](std::string_view s) {
    uint32_t v = 0;
    for (char c : s) {
      if (c < '0' || c > '9') break;
      v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    return v;
  };
  uint32_t r = 0, n = 0;
  if (colon != std::string_view::npos) {
    const std::string_view after = text.substr(colon + 1);
    r = parse(after);
    const size_t second = after.find(':');
    if (second != std::string_view::npos) n = parse(after.substr(second + 1));
  }
  if (reg) *reg = r;
  if (count) *count = n;
}

bool CtVar::IsAttachedToDest(std::string* dest, uint32_t* reg, uint32_t* count) const {
  if (type_ != OZK_TVAR_DEST) return false;
  const std::string_view text =
      value_.empty()
          ? std::string_view()
          : std::string_view(reinterpret_cast<const char*>(value_.data()), value_.size());
  DestCmpts(text, dest, reg, count);
  return true;
}

int CtVar::ReAttachVar(int recursive) {
  CtVarLock lock;
  std::string dest;
  XTVarDests* dests = GetAppDest();
  if (IsAttachedToDest(&dest) && !(options_ & TVAR_OPT_NO_DEST_REGISTER) && dests) {
    dests->AttachVar(dest.c_str(), this);
  }
  if (recursive) {
    for (CtVar* c = first_child_; c; c = c->next_) c->ReAttachVar(recursive);
  }
  return 1;
}

double CtVar::ReadAttachedDest() {
  if (remote_) {
    ReadRemote();
    return number_;
  }
  std::string dest;
  uint32_t reg = 0;
  XTVarDests* dests = GetAppDest();
  if (dests && IsAttachedToDest(&dest, &reg)) {
    // The register is read outside the lock; only the store needs it.
    const double value = dests->ReadRegister(dest.c_str(), reg, this);
    CtVarLock lock;
    number_ = value;
  }
  return number_;
}

std::string CtVar::ReadAttachedDestString() {
  if (remote_) {
    ReadRemote();
    return TextValue() ? std::string(TextValue(), strnlen(TextValue(), value_.size())) : "";
  }
  std::string dest;
  uint32_t reg = 0;
  XTVarDests* dests = GetAppDest();
  if (!dests || !IsAttachedToDest(&dest, &reg)) return std::string();
  std::vector<uint8_t> buffer(4096, 0);
  dests->RecvMessage(dest.c_str(), std::span<uint8_t>(buffer.data(), buffer.size() - 1), INT_MAX, 1,
                     reg, this);
  return std::string(reinterpret_cast<const char*>(buffer.data()));
}

int CtVar::WriteAttachedDest(double value) {
  {
    CtVarLock lock;
    number_ = value;
  }
  if (remote_) return WriteRemote(this);
  std::string dest;
  uint32_t reg = 0;
  XTVarDests* dests = GetAppDest();
  if (!dests || !IsAttachedToDest(&dest, &reg)) return 0;
  return dests->WriteRegister(dest.c_str(), reg, value, this);
}

int CtVar::WriteAttachedDest(const char* text) {
  if (!text) return 0;
  {
    CtVarLock lock;
    number_ = std::atof(text);
  }
  if (remote_) return WriteRemote(this);
  std::string dest;
  uint32_t reg = 0;
  XTVarDests* dests = GetAppDest();
  if (!dests || !IsAttachedToDest(&dest, &reg)) return 0;
  return dests->WriteRegister(dest.c_str(), reg, text, static_cast<int>(std::strlen(text)) + 1,
                              this);
}

std::string_view CtVar::FormatView() const {
  return std::string_view(format_.data(), strnlen(format_.data(), format_.size()));
}
